// The folder and version routes of kqserver, driven with the uploader's exact request bytes.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <pugixml.hpp>

#include <string>
#include <vector>

#include "tests/support/KqServerProcess.h"
#include "tests/tools/kqserver/WireRequest.h"

namespace {

// Reads a value below the answer's root by dotted path ("quota.free"); empty when absent.
std::string Value(const QByteArray& xml, const std::string& dottedPath) {
  pugi::xml_document document;
  if (!document.load_buffer(xml.constData(), static_cast<size_t>(xml.size()))) return "<bad xml>";
  pugi::xml_node node = document.document_element();
  size_t start = 0;
  while (node && start <= dottedPath.size()) {
    const size_t dot = dottedPath.find('.', start);
    node = node.child(dottedPath.substr(start, dot - start).c_str());
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return node ? node.text().get() : "";
}

QByteArray Digest(const QByteArray& password) {
  const auto once = QCryptographicHash::hash(password, QCryptographicHash::Md5).toHex();
  return QCryptographicHash::hash(once, QCryptographicHash::Md5).toHex();
}

class KqServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start({"--init-demo"})) << server_.ErrorText().toStdString();
  }

  KqServerProcess::Reply GetFolder(const QByteArray& account, const QByteArray& password) {
    return server_.Post("/mavo/getfolder/",
                        WireRequest::FormBody(
                            {{"account", account}, {"password", password}, {"tool", "v.2.100603"}}),
                        WireRequest::kContentType);
  }

  KqServerProcess::Reply GetVersion(const QByteArray& account, qint64 folderId, qint64 contentId) {
    return server_.Post("/mavo/getVersion/",
                        WireRequest::FormBody({{"account", account},
                                               {"password", "demo"},
                                               {"folderID", QByteArray::number(folderId)},
                                               {"contentID", QByteArray::number(contentId)},
                                               {"ver", "6.0"},
                                               {"tool", "v.2.100603"}}),
                        WireRequest::kContentType);
  }

  KqServerProcess server_;
};

TEST_F(KqServerTest, LoginAcceptsPlainOrDigestAsTheAccountWantsAndTellsWhichOnRefusal) {
  struct Case {
    QByteArray account;
    QByteArray password;
    std::string errInfo;
    std::string enc;  // sysinfo.enc of the answer
  };
  const std::vector<Case> cases = {
      {"demo", "demo", "", "0"},
      {"demo", Digest("demo"), "1103", "0"},  // the uploader then retries with the plain text
      {"demo", "wrong", "1103", "0"},
      {"demo-digest", Digest("demo"), "", "1"},
      {"demo-digest", Digest("demo").toUpper(), "", "1"},
      {"demo-digest", "demo", "1103", "1"},  // no plain retry for a digest account
      {"nobody", "demo", "1103", "0"},
      {"", "", "1103", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.account.toStdString() + " / " + c.password.toStdString());
    const auto reply = GetFolder(c.account, c.password);
    ASSERT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.startsWith("<?xml"));
    EXPECT_EQ(Value(reply.body, "errInfo"), c.errInfo);
    EXPECT_EQ(Value(reply.body, "sysinfo.enc"), c.enc);
  }
}

TEST_F(KqServerTest, FolderReplyInTreeFormCarriesCapabilitiesAndEveryFolder) {
  const auto reply = GetFolder("demo", "demo");
  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(reply.body.constData(), static_cast<size_t>(reply.body.size())));
  const auto root = document.document_element();
  EXPECT_STREQ(root.attribute("ver").value(), "2.0");
  EXPECT_STREQ(root.attribute("kqpver").value(), "6");
  EXPECT_EQ(Value(reply.body, "sysinfo.ver"), "5.0");
  EXPECT_EQ(Value(reply.body, "sysinfo.cvtSetting.noCvtForMp4"), "1");
  EXPECT_EQ(Value(reply.body, "sysinfo.cvtSetting.customBps"), "1");
  EXPECT_EQ(Value(reply.body, "sysinfo.adID"), "4");
  std::vector<std::string> folders;
  for (const auto& item : root.child("folder").children()) {
    folders.push_back(std::string(item.child_value("id")) + "/" + item.child_value("pid") + "/" +
                      item.child_value("uploadable") + "/" + item.child_value("name"));
  }
  EXPECT_EQ(folders,
            (std::vector<std::string>{"1/0/0/Courses", "2/1/1/Physics 101", "3/1/1/Chemistry 201",
                                      "7/2/1/Lab sessions", "4/0/1/Advertisements", "5/0/0/Archive",
                                      "6/5/0/2019"}));
}

TEST_F(KqServerTest, FolderReplyInFlatFormListsOnlyUploadableItemsWithoutSysinfo) {
  ASSERT_TRUE(server_.Seed(R"(<kqserver><account name="demo-legacy">
      <folder id="22" pid="0" name="Hidden" uploadable="0"/></account></kqserver>)"));
  const auto reply = GetFolder("demo-legacy", "demo");
  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(reply.body.constData(), static_cast<size_t>(reply.body.size())));
  const auto root = document.document_element();
  EXPECT_FALSE(root.child("folder"));
  EXPECT_FALSE(root.child("sysinfo"));
  std::vector<std::string> items;
  for (const auto& item : root.children("item")) items.push_back(item.child_value("name"));
  EXPECT_EQ(items, (std::vector<std::string>{"My videos", "Shared"}));
}

TEST_F(KqServerTest, VersionCheckWithoutAccountSendsNoBodyAndGetsTheVersion) {
  // The uploader's version check: a POST with neither Content-Type nor body.
  for (const QByteArray& request :
       {QByteArray("POST /mavo/getVersion/ HTTP/1.0\r\nHost: x\r\nUser-Agent: mavo\r\n\r\n"),
        QByteArray("POST /mavo/getVersion/ HTTP/1.0\r\nContent-Length: 0\r\n\r\n")}) {
    const auto reply = server_.Exchange(request);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(Value(reply.body, "version"), "5.0");
    EXPECT_EQ(Value(reply.body, "errInfo"), "");
  }
}

TEST_F(KqServerTest, VersionReplyGivesSettingsQuotaAndOverwriteRule) {
  ASSERT_TRUE(server_.Seed(R"(<kqserver><account name="demo" videotype="flv" videosrc="1"
      slidesize="800x600"><quota total="100" free="40" maxsize="30"/>
      <content id="300" folder="3" overwrite="1"/><content id="301" folder="2" overwrite="3"/>
      </account><account name="other" password="x"><content id="302" folder="2"/></account>
      </kqserver>)"));
  const auto reply = GetVersion("demo", 2, -1);
  EXPECT_EQ(Value(reply.body, "errInfo"), "");
  EXPECT_EQ(Value(reply.body, "videotype"), "flv");
  EXPECT_EQ(Value(reply.body, "videosrc"), "1");
  EXPECT_EQ(Value(reply.body, "thumbnail"), "1");
  EXPECT_EQ(Value(reply.body, "slidesize"), "800x600");
  EXPECT_EQ(Value(reply.body, "quota.total"), "100");
  EXPECT_EQ(Value(reply.body, "quota.free"), "40");
  EXPECT_EQ(Value(reply.body, "quota.maxsize"), "30");

  struct Case {
    qint64 folder;
    qint64 content;
    std::string errInfo;
    std::string overwrite;
  };
  const std::vector<Case> cases = {
      {2, -1, "", "0"},  {2, 0, "", "0"},     {2, 100, "", "1"},  // the demo's content 100
      {2, 300, "", "2"}, {2, 301, "", "3"},   {2, 302, "", "0"},  // another account's: new
      {2, 999, "", "0"}, {1, -1, "1202", ""}, {42, -1, "1201", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.folder) + " " + std::to_string(c.content));
    const auto answer = GetVersion("demo", c.folder, c.content);
    EXPECT_EQ(Value(answer.body, "errInfo"), c.errInfo);
    EXPECT_EQ(Value(answer.body, "overwrite"), c.overwrite);
  }
}

TEST_F(KqServerTest, StagedRefusalsAnswerInsteadOfTheNormalReply) {
  ASSERT_TRUE(server_.Seed(R"(<kqserver><account name="demo">
      <reply route="getVersion" errInfo="Closed for maintenance" showInfo="1"/>
      <reply route="getfolder" errInfo="2042"/></account></kqserver>)"));
  const auto version = GetVersion("demo", 2, -1);
  EXPECT_EQ(Value(version.body, "errInfo"), "Closed for maintenance");
  EXPECT_EQ(Value(version.body, "showInfo"), "1");
  const auto folders = GetFolder("demo", "demo");
  EXPECT_EQ(Value(folders.body, "errInfo"), "2042");
  EXPECT_EQ(Value(folders.body, "showInfo"), "");
  // A refused login still comes first.
  EXPECT_EQ(Value(GetFolder("demo", "nope").body, "errInfo"), "1103");

  ASSERT_TRUE(server_.Seed(R"(<kqserver><account name="demo">
      <reply route="getfolder" errInfo=""/></account></kqserver>)"));
  EXPECT_EQ(Value(GetFolder("demo", "demo").body, "errInfo"), "");
}

TEST_F(KqServerTest, MalformedRequestsGetClearAnswersAndLeaveTheServerRunning) {
  const QByteArray field = WireRequest::FormFieldPart("account", "demo");
  struct Case {
    const char* what;
    QByteArray body;
    QByteArray contentType;
    int status;
  };
  const std::vector<Case> cases = {
      {"not multipart", "account=demo&password=demo", "application/x-www-form-urlencoded", 400},
      {"no closing boundary", field, WireRequest::kContentType, 400},
      {"boundary missing from header", WireRequest::FormBody({{"a", "1"}}), "multipart/form-data",
       400},
      {"binary noise", QByteArray(3000, '\x01'), WireRequest::kContentType, 400},
      {"too large", QByteArray(70000, 'x'), WireRequest::kContentType, 413},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto reply = server_.Post("/mavo/getfolder/", c.body, c.contentType);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_FALSE(Value(reply.body, "errInfo").empty());
  }
  EXPECT_EQ(server_.Exchange("POST /mavo/getfolder/ HTTP/1.0\r\nContent-Length: zz\r\n\r\n").status,
            400);
  EXPECT_EQ(server_.Post("/mavo/nothing/", {}).status, 404);
  EXPECT_EQ(Value(GetFolder("demo", "demo").body, "errInfo"), "");
}

TEST_F(KqServerTest, PostEchoesItsFieldsAndAcceptsAnEmptyBody) {
  const auto reply = server_.Post("/mavo/post/", WireRequest::FormBody({{"x", "1"}, {"y", "2"}}),
                                  WireRequest::kContentType);
  EXPECT_EQ(reply.status, 200);
  EXPECT_TRUE(reply.body.contains("<field name=\"x\">1</field><field name=\"y\">2</field>"));
  EXPECT_EQ(server_.Post("/mavo/post/", {}).status, 200);
}

TEST_F(KqServerTest, SinkCountsEveryByte) {
  const QByteArray data(3 * 1024 * 1024 + 17, 'z');
  const auto reply = server_.Post("/sink", data, "application/octet-stream");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(Value(reply.body, "bytes"), std::to_string(data.size()));
}

TEST_F(KqServerTest, BodiesEndWhereTheirLengthSaysOnAKeptConnection) {
  // Two requests written at once on one HTTP/1.1 connection: the first body must be read to its
  // length and no further, or the second request is lost or misread.
  const QByteArray first(300 * 1024 + 3, 'a');
  const QByteArray second = WireRequest::FormBody({{"x", "1"}});
  const QByteArray request =
      "POST /sink HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(first.size()) +
      "\r\n\r\n" + first +
      "POST /mavo/post/ HTTP/1.1\r\nHost: x\r\nContent-Type: " + WireRequest::kContentType +
      "\r\nContent-Length: " + QByteArray::number(second.size()) + "\r\nConnection: close\r\n\r\n" +
      second;
  const auto reply = server_.Exchange(request);
  EXPECT_TRUE(reply.raw.contains("<bytes>" + QByteArray::number(first.size()) + "</bytes>"))
      << reply.raw.left(400).toStdString();
  EXPECT_TRUE(reply.raw.contains("<field name=\"x\">1</field>")) << reply.raw.toStdString();
  EXPECT_EQ(reply.raw.count("HTTP/1.1 200"), 2);
}

TEST_F(KqServerTest, BadSeedsAndFaultSpecsAreRefused) {
  for (const char* seed :
       {"<nope/>", "not xml", "<kqserver><account/></kqserver>",
        "<kqserver><account name=\"a\"><folder id=\"x\"/></account></kqserver>",
        "<kqserver><account name=\"a\"><quota total=\"1O\"/></account></kqserver>"}) {
    EXPECT_FALSE(server_.Seed(seed)) << seed;
  }
  for (const char* rule : {"", "path=/mavo/putFile", "status=99", "status=500,empty", "delay=abc",
                           "block=-1,drop", "times=0,drop", "bogus"}) {
    EXPECT_FALSE(server_.ArmFault(rule)) << rule;
  }
  EXPECT_TRUE(server_.ArmFault("path=/mavo/putFile,block=3,status=503,times=2"));
  EXPECT_TRUE(server_.AdminGet("/admin/faults").contains("remaining=\"2\""));
}

TEST(KqServerStartTest, RefusesBadCommandLines) {
  for (const QStringList& args : {QStringList{"--listen", "nowhere"}, QStringList{"--bogus"},
                                  QStringList{"--fault", "bogus"}}) {
    KqServerProcess server;
    EXPECT_FALSE(server.Start(args)) << args.join(' ').toStdString();
  }
}

}  // namespace
