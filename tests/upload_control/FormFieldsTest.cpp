// The text rules that turn caller arguments into form fields and addresses.

#include "platform/codepage/CodePage.h"
#include "upload_control/src/ControlRequestState.h"
#include "upload_control/src/ExtraFields.h"
#include "upload_control/src/PostFields.h"
#include "upload_control/src/ServerAddress.h"
#include "upload_control/src/UploadWorker.h"
#include "upload_control/src/UrlEncode.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

using kqmavo2::FieldPairs;

TEST(ExtraFields, SplitsPairsAtAmpersandAndTheFirstEquals) {
  struct Case {
    QByteArray text;
    FieldPairs expected;
  };
  const Case cases[] = {
      {"tool=v.2.100603", {{"tool", "v.2.100603"}}},
      {"a=1&&b=2", {{"a", "1"}, {"b", "2"}}},
      {"&a=1&", {{"a", "1"}}},
      {"a=1=2", {{"a", "1=2"}}},
      {"flag", {{"flag", ""}}},
      {"=v", {{"", "v"}}},
      {"", {}},
      {QByteArray(70, 'n') + "=" + QByteArray(70, 'v'),
       {{QByteArray(63, 'n'), QByteArray(63, 'v')}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kqmavo2::ExtraFields::Parse(c.text), c.expected) << c.text.toStdString();
}

TEST(PostFields, TokensAlternateNameAndValue) {
  struct Case {
    QByteArray param;
    FieldPairs expected;
  };
  const Case cases[] = {
      {"x%3d1%26y%3d2", {{"x", "1"}, {"y", "2"}}},
      {"x%3D1", {}},
      {"a = b c", {{"a", "bc"}}},
      {"a=1&b", {{"a", "1"}}},
      {"a=1&b=", {{"a", "1"}, {"b", ""}}},
      {"lonely", {}},
      {"", {}},
      {"%3d%26", {{"", ""}}},
      {"a=" + QByteArray(80, 'v'), {{"a", QByteArray(63, 'v')}}},
      {"1=1&2=2&3=3&4=4&5=5&6=6&7=7&8=8&9=9&a=a",
       {{"1", "1"},
        {"2", "2"},
        {"3", "3"},
        {"4", "4"},
        {"5", "5"},
        {"6", "6"},
        {"7", "7"},
        {"8", "8"},
        {"9", "9"}}},
      // Only the first 127 bytes count.
      {"a=" + QByteArray(122, ' ') + "b&c=d", {{"a", "b"}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kqmavo2::PostFields::Tokenize(c.param), c.expected) << c.param.toStdString();
}

TEST(ServerAddress, SplitsHostPortAndPath) {
  struct Case {
    QString url;
    bool dropSlash;
    QString host;
    quint16 port;
    QString path;
    bool portValid;
  };
  const Case cases[] = {
      {"http://example.org/mavo/getfolder/", false, "example.org", 80, "/mavo/getfolder/", true},
      {"http://example.org:8080/mavo/putFile/", true, "example.org", 8080, "/mavo/putFile", true},
      {"http://10.0.0.1:81", false, "10.0.0.1", 81, "", true},
      {"http://[::1]:8080/x", false, "[::1]", 8080, "/x", true},
      {"http://[::1]/x", false, "[::1]", 80, "/x", true},
      {"http://host:0/x", false, "host:0", 80, "/x", false},
      {"http://host:http/x", false, "host:http", 80, "/x", false},
      {"http://host:65536/x", false, "host:65536", 80, "/x", false},
      // Whatever the first seven characters are, they are skipped.
      {"https://example.org/x", false, "", 80, "/example.org/x", true},
      {"ftp://a/b", false, "", 80, "/b", true},
      {"http:/", false, "", 80, "", true},
  };
  for (const Case& c : cases) {
    const auto address = kqmavo2::ServerAddress::Split(c.url, c.dropSlash);
    EXPECT_EQ(address.host, c.host) << c.url.toStdString();
    EXPECT_EQ(address.port, c.port) << c.url.toStdString();
    EXPECT_EQ(address.path, c.path) << c.url.toStdString();
    EXPECT_EQ(address.portValid, c.portValid) << c.url.toStdString();
  }
}

TEST(ServerAddress, LongAddressesAreCutToTheirBuffers) {
  const auto address = kqmavo2::ServerAddress::Split(
      QStringLiteral("http://") + QString(300, u'h') + QLatin1Char('/') + QString(2000, u'p'));
  EXPECT_EQ(address.host.size(), 254);
  EXPECT_EQ(address.path.size(), 254);
}

TEST(UrlEncode, EscapesReservedControlAndHighBytes) {
  EXPECT_EQ(kqmavo2::UrlEncode("a b&c"), "a%20b%26c");
  EXPECT_EQ(kqmavo2::UrlEncode("\xE4"), "%E4");
  EXPECT_EQ(kqmavo2::UrlEncode("AZaz09'()*-._"), "AZaz09'()*-._");
  EXPECT_EQ(kqmavo2::UrlEncode("\"<>%\\^[]`+$,@:;/!#?=&"),
            "%22%3C%3E%25%5C%5E%5B%5D%60%2B%24%2C%40%3A%3B%2F%21%23%3F%3D%26");
  EXPECT_EQ(kqmavo2::UrlEncode("{|}~\x7F\x01"), "%7B%7C%7D%7E%7F%01");
}

TEST(ControlRequestState, TextIsCutToItsBufferAtWholeCharacters) {
  cf::codepage::SetCodePage(QStringLiteral("UTF-8"));
  kqmavo2::ControlRequestState state;
  state.SetAccount(QString(300, u'a'));
  EXPECT_EQ(state.account.size(), 254);
  // Three bytes per character: 84 whole characters fit in 254 bytes, never a partial one.
  state.SetPassword(QString(100, QChar(0x8AB2)));
  EXPECT_EQ(state.password.size(), 252);
  EXPECT_EQ(QString::fromUtf8(state.password), QString(84, QChar(0x8AB2)));
  state.SetVersion(QStringLiteral("1234567890123456789012"));
  EXPECT_EQ(state.version, "1234567890123456789");
  state.SetFolderId(-2147483647);
  EXPECT_EQ(state.folderId, "-21474836");
  state.SetContentId(-1);
  EXPECT_EQ(state.contentId, "-1");
  state.SetExtraFields(QString(1100, u'x'));
  EXPECT_EQ(state.extraFields.size(), 1023);
  state.SetFilePath(QString(300, u'f'));
  EXPECT_EQ(state.filePath.size(), 255);
  cf::codepage::SetCodePage(QString());
}

TEST(UploadWorker, UrlValueIsReadFromTheFirstUElement) {
  struct Case {
    QString answer;
    bool found;
    QString value;
  };
  const Case cases[] = {
      {"<putFile><url>7</url></putFile>", true, "7"},
      {"<?xml version=\"1.0\"?><r><url>a1b</url></r>", true, "a1b"},
      {"<r><errInfo>3</errInfo></r>", false, ""},
      {"<r><url>12", false, ""},
      {QString(2100, u' ') + "<url>7</url>", false, ""},
      {"<url></url>", true, ""},
      {"<url>\u00e9</url>", true, "\u00e9"},
      // A value that may not extend the request path counts as none.
      {"<url>abcd</url>", false, ""},
      {"<url>a/b</url>", false, ""},
      {"<url>\\x</url>", false, ""},
      {"<url>..</url>", false, ""},
      {"<url>a..</url>", false, ""},
      {"<url>@x</url>", false, ""},
      {"<url>%2f</url>", false, ""},
      {"<url>a?</url>", false, ""},
      {"<url>#</url>", false, ""},
      {"<url>a\tb</url>", false, ""},
      {"<url>\u007f</url>", false, ""},
      {"<url>\u0085</url>", false, ""},
  };
  for (const Case& c : cases) {
    QString value;
    EXPECT_EQ(kqmavo2::UploadWorker::FindUrlValue(c.answer, &value), c.found)
        << c.answer.toStdString();
    EXPECT_EQ(value, c.value);
  }
}

TEST(UploadWorker, SessionIdIsSecondsThenFourAndFiveDigits) {
  const QByteArray id = kqmavo2::UploadWorker::MakeSessionId();
  EXPECT_EQ(id.size(), 19);
  bool numeric = false;
  id.toULongLong(&numeric);
  EXPECT_TRUE(numeric);
  const qint64 seconds = id.left(10).toLongLong();
  EXPECT_LE(qAbs(seconds - QDateTime::currentSecsSinceEpoch()), 5);
  EXPECT_LE(id.right(5).toInt(), 32767);
}

}  // namespace
