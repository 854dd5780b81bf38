// Faults armed in kqserver at start or at run time, and that retries after each kind succeed.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <pugixml.hpp>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/KqServerProcess.h"
#include "tests/tools/kqserver/BlockUploader.h"
#include "tests/tools/kqserver/WireRequest.h"

namespace {

using Reply = KqServerProcess::Reply;

QByteArray Url(const Reply& reply) {
  return QByteArray::fromStdString(BlockUploader::Value(reply.body, "url"));
}

qint64 ContentId(const Reply& reply) {
  return QByteArray::fromStdString(BlockUploader::Value(reply.body, "contentID")).toLongLong();
}

qint64 AnnouncedLength(const Reply& reply) {
  const auto match =
      QRegularExpression("Content-Length: (\\d+)", QRegularExpression::CaseInsensitiveOption)
          .match(QString::fromLatin1(reply.headers));
  return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

QByteArray StoredArchive(KqServerProcess& server, qint64 id) {
  const QByteArray xml = server.AdminGet("/admin/contents");
  pugi::xml_document document;
  document.load_buffer(xml.constData(), static_cast<size_t>(xml.size()));
  for (const auto& node : document.document_element().children("content")) {
    if (node.attribute("id").as_llong() != id) continue;
    QFile file(QString::fromUtf8(node.attribute("path").value()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  return {};
}

Reply GetFolder(const KqServerProcess& server) {
  return server.Post("/mavo/getfolder/",
                     WireRequest::FormBody({{"account", "demo"}, {"password", "demo"}}),
                     WireRequest::kContentType);
}

Reply GetVersion(const KqServerProcess& server, qint64 contentId) {
  return server.Post("/mavo/getVersion/",
                     WireRequest::FormBody({{"account", "demo"},
                                            {"password", "demo"},
                                            {"folderID", "2"},
                                            {"contentID", QByteArray::number(contentId)},
                                            {"ver", "6.0"}}),
                     WireRequest::kContentType);
}

class FaultInjectorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { archive_ = new QByteArray(BlockUploader::MakeZip(1300 * 1024)); }
  static void TearDownTestSuite() { delete archive_; }
  void SetUp() override {
    ASSERT_EQ(BlockUploader::BlockCount(*archive_), 3);
    ASSERT_TRUE(server_.Start({"--init-demo"})) << server_.ErrorText().toStdString();
  }

  static QByteArray* archive_;
  KqServerProcess server_;
};

QByteArray* FaultInjectorTest::archive_ = nullptr;

TEST_F(FaultInjectorTest, EachKindFiresOnItsBlockAndTheRetryStillDeliversTheArchiveWhole) {
  struct Case {
    const char* fault;
    std::function<void(const Reply&)> check;
  };
  const std::vector<Case> cases = {
      {"status=503", [](const Reply& r) { EXPECT_EQ(r.status, 503); }},
      {"empty",
       [](const Reply& r) {
         EXPECT_EQ(r.status, 200);
         EXPECT_TRUE(r.body.isEmpty());
         EXPECT_EQ(AnnouncedLength(r), 0);
       }},
      {"nourl",
       [](const Reply& r) {
         EXPECT_EQ(r.status, 200);
         EXPECT_FALSE(r.body.isEmpty());
         EXPECT_FALSE(r.body.contains("<u"));
       }},
      {"drop",
       [](const Reply& r) {
         EXPECT_EQ(r.status, -1);
         EXPECT_TRUE(r.raw.isEmpty());
       }},
      {"truncate",
       [](const Reply& r) {
         EXPECT_EQ(r.status, 200);
         EXPECT_GT(AnnouncedLength(r), r.body.size());
       }},
      {"delay=50",
       [](const Reply& r) {
         EXPECT_EQ(r.status, 200);
         EXPECT_FALSE(Url(r).isEmpty());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(server_.ArmFault(QString("path=/mavo/putFile,block=1,") + c.fault));
    BlockUploader uploader(server_);
    const QByteArray url = Url(uploader.Send(0, false, BlockUploader::BlockOf(*archive_, 0), ""));
    ASSERT_FALSE(url.isEmpty());
    c.check(uploader.Send(1, false, BlockUploader::BlockOf(*archive_, 1), url));
    // The uploader retries the same block at the same address.
    const Reply retry = uploader.Send(1, false, BlockUploader::BlockOf(*archive_, 1), url);
    ASSERT_FALSE(Url(retry).isEmpty()) << retry.body.toStdString();
    const Reply last = uploader.Send(2, true, BlockUploader::BlockOf(*archive_, 2), Url(retry));
    ASSERT_GT(ContentId(last), 0) << last.body.toStdString();
    EXPECT_EQ(StoredArchive(server_, ContentId(last)), *archive_);
    EXPECT_TRUE(server_.AdminGet("/admin/faults").contains("hits=\"1\""));
    ASSERT_TRUE(server_.ClearFaults());
  }
}

TEST_F(FaultInjectorTest, FinalBlockRetriedAfterACutAnswerGetsTheSameContent) {
  ASSERT_TRUE(server_.ArmFault("path=/mavo/putFile,block=0,truncate"));
  const QByteArray small = BlockUploader::MakeZip(20 * 1024);
  BlockUploader uploader(server_);
  const Reply cut = uploader.Send(0, true, small, "");
  EXPECT_GT(AnnouncedLength(cut), cut.body.size());
  const Reply retry = uploader.Send(0, true, small, "");
  const qint64 id = ContentId(retry);
  ASSERT_GT(id, 0) << retry.body.toStdString();
  EXPECT_EQ(StoredArchive(server_, id), small);
  EXPECT_EQ(server_.AdminGet("/admin/contents").count("<content "), 2);  // the demo's and this
}

TEST_F(FaultInjectorTest, AlwaysFiresOnEveryAttemptUntilCleared) {
  ASSERT_TRUE(server_.ArmFault("path=/mavo/putFile/,block=0,status=500,always"));
  BlockUploader uploader(server_);
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(uploader.Send(0, false, BlockUploader::BlockOf(*archive_, 0), "").status, 500);
  }
  ASSERT_TRUE(server_.ClearFaults());
  EXPECT_FALSE(Url(uploader.Send(0, false, BlockUploader::BlockOf(*archive_, 0), "")).isEmpty());
}

TEST_F(FaultInjectorTest, FaultsMatchOnlyTheirPathAndBlock) {
  ASSERT_TRUE(server_.ArmFault("path=/mavo/putFile,block=2,status=500"));
  ASSERT_TRUE(server_.ArmFault("path=/mavo/getVersion/,status=502,times=2"));
  EXPECT_EQ(GetFolder(server_).status, 200);
  const Reply reply = BlockUploader(server_).UploadAll(*archive_);
  EXPECT_EQ(reply.status, 500);  // only the block numbered 2
  const Reply retry = BlockUploader(server_).UploadAll(*archive_);
  EXPECT_GT(ContentId(retry), 0);
  const QByteArray version = "POST /mavo/getVersion/ HTTP/1.0\r\nContent-Length: 0\r\n\r\n";
  EXPECT_EQ(server_.Exchange(version).status, 502);
  EXPECT_EQ(server_.Exchange(version).status, 502);
  EXPECT_EQ(server_.Exchange(version).status, 200);
}

TEST_F(FaultInjectorTest, FaultsOnOtherRoutesAndFromTheCommandLine) {
  KqServerProcess armed;
  ASSERT_TRUE(
      armed.Start({"--init-demo", "--fault", "path=/mavo/getfolder/,drop", "--fault",
                   "path=/mavo/getfolder/,truncate", "--fault", "path=/mavo/getfolder/,empty"}));
  const Reply dropped = GetFolder(armed);
  EXPECT_EQ(dropped.status, -1);
  const Reply cut = GetFolder(armed);
  EXPECT_EQ(cut.status, 200);
  EXPECT_GT(AnnouncedLength(cut), cut.body.size());
  const Reply empty = GetFolder(armed);
  EXPECT_EQ(empty.status, 200);
  EXPECT_TRUE(empty.body.isEmpty());
  EXPECT_TRUE(GetFolder(armed).body.contains("<folder>"));
}

// The overwrite value is forced only where the rule matches and only as often as it says; the rest
// of the answer stays the server's own, and values the client cannot meet are refused.
TEST_F(FaultInjectorTest, OverwriteRuleForcesTheVersionAnswersReplaceOffer) {
  ASSERT_TRUE(server_.ArmFault("path=/mavo/getVersion/,overwrite=1,times=2"));
  EXPECT_TRUE(GetFolder(server_).body.contains("<folder>"));
  for (const qint64 content : {-1, 0}) {
    const Reply forced = GetVersion(server_, content);
    EXPECT_EQ(BlockUploader::Value(forced.body, "overwrite"), "1") << forced.body.toStdString();
    EXPECT_EQ(BlockUploader::Value(forced.body, "videotype"), "mp4");
  }
  EXPECT_EQ(BlockUploader::Value(GetVersion(server_, -1).body, "overwrite"), "0");

  for (const char* refused : {"overwrite=4", "overwrite=-1", "overwrite=1,delay=5", "overwrite="}) {
    EXPECT_EQ(server_.AdminPost("/admin/fault", refused, "text/plain").status, 400) << refused;
  }
  KqServerProcess armed;
  ASSERT_TRUE(armed.Start({"--init-demo", "--fault", "path=/mavo/getVersion/,overwrite=3"}));
  EXPECT_EQ(BlockUploader::Value(GetVersion(armed, -1).body, "overwrite"), "3");
}

}  // namespace

namespace {

// A link that goes down cuts every request off, whatever its route, until its time is over; the
// admin routes stay reachable, and nothing a cut block carried is kept.
TEST_F(FaultInjectorTest, DownCutsEveryRequestOffForItsTime) {
  ASSERT_TRUE(server_.ArmFault("path=/mavo/putFile,block=1,down=2500"));
  BlockUploader uploader(server_);
  const Reply first = uploader.Send(0, false, BlockUploader::BlockOf(*archive_, 0), "");
  const QByteArray url = Url(first);
  ASSERT_FALSE(url.isEmpty());
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(uploader.Send(1, false, BlockUploader::BlockOf(*archive_, 1), url).status, -1);
  EXPECT_EQ(GetFolder(server_).status, -1);
  EXPECT_EQ(uploader.Send(1, false, BlockUploader::BlockOf(*archive_, 1), url).status, -1);
  EXPECT_TRUE(server_.AdminGet("/admin/faults").contains("kind=\"down\""));
  ASSERT_LT(clock.elapsed(), 2000) << "the checks above must fall inside the down time";
  QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, 2700 - clock.elapsed())));
  EXPECT_EQ(GetFolder(server_).status, 200);
  const Reply second = uploader.Send(1, false, BlockUploader::BlockOf(*archive_, 1), url);
  EXPECT_FALSE(Url(second).isEmpty()) << second.body.toStdString();

  for (const char* refused : {"down=0", "down=", "down=5,drop", "down=600001"}) {
    EXPECT_EQ(server_.AdminPost("/admin/fault", refused, "text/plain").status, 400) << refused;
  }
}

}  // namespace
