// Every result document of the folder, version and post requests, each from its real cause.

#include "platform/com/Bstr.h"
#include "tests/upload_control/ControlHarness.h"
#include "tests/upload_control/RawHttpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using cf::com::Bstr;

QString Doc(const char* root, int code) {
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><%1 "
             "ver=\"2.0\"><errInfo>%2</errInfo></%1>")
      .arg(QLatin1String(root))
      .arg(code);
}

// A loopback port nothing listens on: bound once, then closed.
quint16 RefusedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

enum class Request { kGetFolder, kGetVersion, kGetVersion2, kPost };

// Runs one request against `url` and returns its Response, checking that exactly one event of
// the right kind ended it.
QString RunRequest(Request kind, const QString& url,
                   const QString& extra = QStringLiteral("tool=v.2")) {
  ControlHarness control;
  switch (kind) {
    case Request::kGetFolder:
      control->GetFolder(Bstr(url), Bstr(u"demo"), Bstr(u"demo"), Bstr(extra));
      break;
    case Request::kGetVersion:
      control->getVersion(Bstr(url));
      break;
    case Request::kGetVersion2:
      control->GetVersion2(Bstr(url), Bstr(u"demo"), Bstr(u"demo"), 1, -1, Bstr(u"5"), Bstr(extra));
      break;
    case Request::kPost:
      control->Post(Bstr(url), Bstr(u"a%3d1"));
      break;
  }
  EXPECT_TRUE(control.WaitForEvents(1));
  const cf::com::DISPID expected = kind == Request::kGetFolder ? kqmavo2::DISPID_OnGetFolderFinished
                                   : kind == Request::kPost    ? kqmavo2::DISPID_OnPostFinished
                                                            : kqmavo2::DISPID_OnGetVersionFinished;
  EXPECT_EQ(control.Fired().size(), 1u);
  if (!control.Fired().empty()) {
    EXPECT_EQ(control.Fired().front().event, expected);
  }
  return control.Response();
}

QString SeventeenPairs() {
  QStringList pairs;
  for (int i = 0; i < 17; ++i) pairs << QStringLiteral("k%1=v").arg(i);
  return pairs.join(QLatin1Char('&'));
}

TEST(ResultDocuments, LocalFailuresGiveEachRequestItsOwnDocument) {
  const QString refused = QStringLiteral("http://127.0.0.1:%1/mavo/x/").arg(RefusedPort());
  const QString unresolvable = QStringLiteral("http://no-such-host.invalid/mavo/x/");
  const QString https = QStringLiteral("https://127.0.0.1/mavo/x/");
  struct Case {
    const char* what;
    Request kind;
    QString url;
    QString expected;
  };
  const Case cases[] = {
      {"folder, host does not resolve", Request::kGetFolder, unresolvable, Doc("getVersion", 0)},
      {"folder, port refused", Request::kGetFolder, refused, Doc("getVersion", 0)},
      {"folder, https address has no host", Request::kGetFolder, https, Doc("getVersion", 0)},
      {"version, port refused", Request::kGetVersion, refused, Doc("getVersion", 0)},
      {"version2, host does not resolve", Request::kGetVersion2, unresolvable,
       Doc("getVersion", 0)},
      {"version, https address has no host", Request::kGetVersion, https, Doc("getVersion", 1001)},
      {"post, port refused", Request::kPost, refused, Doc("post", 0)},
      {"post, https address has no host", Request::kPost, https, Doc("post", 1001)},
      {"folder, port out of range", Request::kGetFolder,
       QStringLiteral("http://127.0.0.1:70000/x/"), Doc("getVersion", 0)},
  };
  for (const Case& c : cases) EXPECT_EQ(RunRequest(c.kind, c.url), c.expected) << c.what;
}

TEST(ResultDocuments, SeventeenExtraPairsAreRefusedBeforeAnythingIsSentAndSixteenGo) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{RawHttpListener::Answer(200, "<ok/>")};
  });
  const QString url = listener.Url(QStringLiteral("/mavo/x/"));
  EXPECT_EQ(RunRequest(Request::kGetFolder, url, SeventeenPairs()), Doc("getVersion", 666));
  EXPECT_EQ(RunRequest(Request::kGetVersion2, url, SeventeenPairs()), Doc("getVersion", 666));
  EXPECT_EQ(listener.Requests().size(), 0u);

  QString sixteen = SeventeenPairs();
  sixteen.truncate(sixteen.lastIndexOf(QLatin1Char('&')));
  EXPECT_EQ(RunRequest(Request::kGetFolder, url, sixteen), QStringLiteral("<ok/>"));
  ASSERT_EQ(listener.Requests().size(), 1u);
  EXPECT_EQ(listener.Requests().front().FormFields().size(), 2u + 16u);
}

TEST(ResultDocuments, StatusCodesOtherThan200Or201BecomeTheRequestsStatusDocument) {
  struct Case {
    int status;
    Request kind;
    QString expected;
  };
  const Case cases[] = {
      {201, Request::kGetFolder, QStringLiteral("<folders/>")},
      {302, Request::kGetFolder, Doc("getFolder", 302)},
      {500, Request::kGetFolder, Doc("getFolder", 500)},
      {500, Request::kGetVersion, Doc("getVersion", 500)},
      {404, Request::kGetVersion2, Doc("getVersion", 404)},
      {302, Request::kPost, Doc("post", 302)},
      {201, Request::kPost, QStringLiteral("<folders/>")},
  };
  for (const Case& c : cases) {
    RawHttpListener listener([&](const RawHttpListener::Request&, int) {
      return RawHttpListener::Reply{RawHttpListener::Answer(c.status, "<folders/>")};
    });
    EXPECT_EQ(RunRequest(c.kind, listener.Url(QStringLiteral("/mavo/x/"))), c.expected) << c.status;
  }
}

TEST(ResultDocuments, AnswerBodiesPassThroughDecodedFromUtf8) {
  const QByteArray text = "<?xml version=\"1.0\"?><r name=\"\xE8\xAA\xB2\xE7\xA8\x8B\"/>";
  struct Case {
    const char* what;
    QByteArray answer;
    QString expected;
  };
  const Case cases[] = {
      {"byte-order mark dropped", RawHttpListener::Answer(200, "\xEF\xBB\xBF" + text),
       QString::fromUtf8(text)},
      {"no byte-order mark", RawHttpListener::Answer(200, text), QString::fromUtf8(text)},
      {"no Content-Length, read to the end", RawHttpListener::Answer(200, text, false),
       QString::fromUtf8(text)},
      {"empty answer passes as empty", RawHttpListener::Answer(200, ""), QString()},
  };
  for (const Case& c : cases) {
    RawHttpListener listener(
        [&](const RawHttpListener::Request&, int) { return RawHttpListener::Reply{c.answer}; });
    EXPECT_EQ(RunRequest(Request::kGetFolder, listener.Url(QStringLiteral("/mavo/getfolder/"))),
              c.expected)
        << c.what;
  }
}

TEST(ResultDocuments, AnAnswerCutOffMidBodyIsNotPassedOffAsTheServersAnswer) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    // Announces more than it sends, then closes.
    return RawHttpListener::Reply{"HTTP/1.0 200 OK\r\nContent-Length: 500\r\n\r\n<folders><fol"};
  });
  EXPECT_EQ(RunRequest(Request::kGetFolder, listener.Url(QStringLiteral("/mavo/getfolder/"))),
            Doc("getVersion", 0));
}

}  // namespace
