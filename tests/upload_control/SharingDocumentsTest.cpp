// What the video-sharing calls build and read, without a network: the entry document of an
// upload and the meaning of a login answer.

#include "upload_control/src/SharingRequests.h"
#include "upload_control/src/SharingUploadWorker.h"

#include <pugixml.hpp>

#include <gtest/gtest.h>

namespace {

using kqmavo2::SharingFields;
using kqmavo2::SharingRequests;
using kqmavo2::SharingSettings;
using kqmavo2::SharingUploadWorker;

TEST(SharingDocuments, MetadataOfAnyTextStaysAWellFormedEntryThatReadsBackUnchanged) {
  struct Case {
    const char* what;
    QString text;
    QString readBack;  // what an XML reader sees
  };
  const Case cases[] = {
      {"markup characters", QStringLiteral("A & B <c> \"d\" 'e'"),
       QStringLiteral("A & B <c> \"d\" 'e'")},
      {"a line that reads as the boundary", QStringLiteral("x\r\n--Qu1llbox--\r\ny"),
       QStringLiteral("x\r\n--Qu1llbox--\r\ny")},
      {"characters XML cannot carry are dropped",
       QStringLiteral("a\x01"
                      "b\x1f"
                      "c\td"),
       QStringLiteral("abc\td")},
      {"text beyond ASCII", QStringLiteral("\u6771\u4eac \u00e9"),
       QStringLiteral("\u6771\u4eac \u00e9")},
      {"empty", QString(), QString()},
  };
  SharingSettings settings;
  settings.categoryScheme = QStringLiteral("urn:x?a=1&b=\"2\"");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SharingFields fields;
    fields.title = c.text.toUtf8();
    fields.description = c.text.toUtf8();
    fields.keywords = c.text.toUtf8();
    fields.category = c.text.toUtf8();
    const QByteArray part = SharingUploadWorker::MetadataPart(fields, settings);
    ASSERT_TRUE(
        part.startsWith("--Qu1llbox\r\nContent-Type: application/atom+xml; "
                        "charset=UTF-8\r\n\r\n<?xml version=\"1.0\"?>\r\n"));
    ASSERT_TRUE(part.endsWith("</entry>\r\n\r\n"));
    EXPECT_EQ(part.count("\r\n--Qu1llbox"), 0);
    const QByteArray entry = part.mid(part.indexOf("<?xml"));
    pugi::xml_document document;
    ASSERT_TRUE(document.load_buffer(entry.constData(), entry.size())) << entry.toStdString();
    const pugi::xml_node group = document.child("entry").child("media:group");
    for (const char* name :
         {"media:title", "media:description", "media:keywords", "media:category"}) {
      EXPECT_EQ(QString::fromUtf8(group.child_value(name)), c.readBack) << name;
    }
    EXPECT_STREQ(group.child("media:category").attribute("scheme").value(), "urn:x?a=1&b=\"2\"");
    EXPECT_STREQ(group.child("media:title").attribute("type").value(), "plain");
  }
}

TEST(SharingDocuments, LoginAnswerGivesATokenOnlyFromAnAcceptedFirstLine) {
  struct Case {
    int status;
    QByteArray answer;
    bool refused;
    QByteArray token;  // empty: none
  };
  const Case cases[] = {
      {200, "Auth=abc\nSID=1\n", false, "abc"},
      {200, "Auth=abc", false, "abc"},
      {200, "Auth=a=b\n", false, "a=b"},
      {201, "Auth=abc\r\n", false, "abc"},
      {200, "SID=1\nError=BadAuthentication", true, ""},
      {403, "Error=BadAuthentication\n", true, ""},
      {500, "Auth=abc\n", false, ""},
      {200, "no token here\n", false, ""},
      {200, "Auth=\n", false, ""},
      {200, "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.toStdString());
    const auto outcome = SharingRequests::ReadLoginAnswer(c.status, c.answer);
    EXPECT_EQ(outcome.refused, c.refused);
    EXPECT_EQ(outcome.token.value_or(QByteArray()), c.token);
  }
}

TEST(SharingDocuments, UploadHeadersNameTheTokenKeyAndFile) {
  SharingFields fields;
  fields.authToken = "tok";
  fields.fileName = "clip 1.wmv";
  EXPECT_EQ(SharingUploadWorker::RequestHeaders(fields, "K-1_x"),
            "Authorization: GoogleLogin auth=tok\r\nX-GData-Key: key=K-1_x\r\nSlug: clip "
            "1.wmv\r\nContent-Type: multipart/related; boundary=Qu1llbox");
}

}  // namespace
