// Block uploads into kqserver: reassembly, the address chain, refusals, cancel, storage and quota.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <pugixml.hpp>

#include <csignal>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/KqServerProcess.h"
#include "tests/tools/kqserver/BlockUploader.h"

namespace {

using Reply = KqServerProcess::Reply;

struct Stored {
  QString path;
  qint64 size = 0;
  std::string sha256;
  std::string account;
};

std::map<qint64, Stored> Contents(KqServerProcess& server) {
  std::map<qint64, Stored> contents;
  const QByteArray xml = server.AdminGet("/admin/contents?hash=1");
  pugi::xml_document document;
  document.load_buffer(xml.constData(), static_cast<size_t>(xml.size()));
  for (const auto& node : document.document_element().children("content")) {
    contents[node.attribute("id").as_llong()] = {
        QString::fromUtf8(node.attribute("path").value()), node.attribute("size").as_llong(),
        node.attribute("sha256").value(), node.attribute("account").value()};
  }
  return contents;
}

qint64 FreeBytes(KqServerProcess& server, const QString& account) {
  const QByteArray xml = server.AdminGet("/admin/quota?account=" + account);
  pugi::xml_document document;
  document.load_buffer(xml.constData(), static_cast<size_t>(xml.size()));
  return document.document_element().attribute("freeBytes").as_llong(-1);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

std::string Sha256(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

std::string ErrInfo(const Reply& reply) { return BlockUploader::Value(reply.body, "errInfo"); }
QByteArray Url(const Reply& reply) {
  return QByteArray::fromStdString(BlockUploader::Value(reply.body, "url"));
}
qint64 ContentId(const Reply& reply) {
  return QByteArray::fromStdString(BlockUploader::Value(reply.body, "contentID")).toLongLong();
}

class UploadSessionsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    small_ = new QByteArray(BlockUploader::MakeZip(100 * 1024));
    large_ = new QByteArray(BlockUploader::MakeZip(1300 * 1024));  // three blocks
  }
  static void TearDownTestSuite() {
    delete small_;
    delete large_;
  }
  void SetUp() override {
    ASSERT_FALSE(small_->isEmpty());
    ASSERT_EQ(BlockUploader::BlockCount(*large_), 3);
    ASSERT_TRUE(server_.Start({"--init-demo"})) << server_.ErrorText().toStdString();
  }

  static QByteArray* small_;
  static QByteArray* large_;
  KqServerProcess server_;
};

QByteArray* UploadSessionsTest::small_ = nullptr;
QByteArray* UploadSessionsTest::large_ = nullptr;

TEST_F(UploadSessionsTest, SingleBlockArchiveBecomesNewContentAndChargesTheQuota) {
  const qint64 freeBefore = FreeBytes(server_, "demo");
  const Reply reply = BlockUploader(server_).UploadAll(*small_);
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(ErrInfo(reply), "");
  const qint64 id = ContentId(reply);
  EXPECT_GT(id, 100);
  const auto contents = Contents(server_);
  ASSERT_EQ(contents.count(id), 1u);
  EXPECT_EQ(ReadFile(contents.at(id).path), *small_);
  EXPECT_EQ(contents.at(id).sha256, Sha256(*small_));
  EXPECT_EQ(contents.at(id).account, "demo");
  EXPECT_EQ(FreeBytes(server_, "demo"), freeBefore - small_->size());
}

TEST_F(UploadSessionsTest, StoredContentAndChargedQuotaSurviveARestartWithTheDemoData) {
  const qint64 id = ContentId(BlockUploader(server_).UploadAll(*small_));
  ASSERT_GT(id, 0);
  const qint64 freeAfter = FreeBytes(server_, "demo");
  ASSERT_TRUE(server_.Restart()) << server_.ErrorText().toStdString();
  EXPECT_EQ(FreeBytes(server_, "demo"), freeAfter);
  EXPECT_EQ(ReadFile(Contents(server_).at(id).path), *small_);
  EXPECT_GT(ContentId(BlockUploader(server_).UploadAll(*small_)), id);
}

TEST_F(UploadSessionsTest, BlocksFollowTheAddressChainAndArriveWhole) {
  BlockUploader uploader(server_);
  QByteArray url;
  QList<QByteArray> seen{""};
  for (qint64 seqno = 0; seqno < 2; ++seqno) {
    const Reply reply = uploader.Send(seqno, false, BlockUploader::BlockOf(*large_, seqno), url);
    ASSERT_EQ(ErrInfo(reply), "") << reply.body.toStdString();
    // The uploader finds the address as the first element starting with "u".
    EXPECT_TRUE(reply.body.indexOf("<u") == reply.body.indexOf("<url>"));
    url = Url(reply);
    EXPECT_GE(url.size(), 1);
    EXPECT_LE(url.size(), 3);
    EXPECT_FALSE(seen.contains(url));
    seen << url;
  }
  // The address of block 1 is stale once block 2 is due.
  EXPECT_EQ(ErrInfo(uploader.Send(2, true, BlockUploader::BlockOf(*large_, 2), seen[1])), "1405");
  const Reply last = uploader.Send(2, true, BlockUploader::BlockOf(*large_, 2), url);
  const qint64 id = ContentId(last);
  ASSERT_GT(id, 0) << last.body.toStdString();
  EXPECT_EQ(ReadFile(Contents(server_).at(id).path), *large_);
}

TEST_F(UploadSessionsTest, OutOfOrderOrChangedBlocksAreRefusedAndIdenticalRetriesAnsweredAgain) {
  BlockUploader uploader(server_);
  const QByteArray block0 = BlockUploader::BlockOf(*large_, 0);
  const QByteArray block1 = BlockUploader::BlockOf(*large_, 1);
  const Reply first = uploader.Send(0, false, block0, "");
  const QByteArray url = Url(first);
  ASSERT_FALSE(url.isEmpty());
  QByteArray changed = block0;
  changed[100] = static_cast<char>(changed[100] ^ 0x55);
  const QByteArray wrongUrl = url == "zz9" ? "zz8" : "zz9";

  struct Case {
    const char* what;
    qint64 seqno;
    bool final;
    QByteArray data;
    QByteArray url;
    qint64 blockSizeField;
    std::string errInfo;
  };
  const std::vector<Case> cases = {
      {"gap", 2, true, BlockUploader::BlockOf(*large_, 2), url, -1, "1402"},
      {"wrong address", 1, false, block1, wrongUrl, -1, "1405"},
      {"repeat with other bytes", 0, false, changed, "", -1, "1403"},
      {"short non-final block", 1, false, block1.left(1000), url, -1, "1404"},
      {"data shorter than blockSize", 1, false, block1.left(1000), url, 524288, "1404"},
      {"blockSize above the block size", 1, true, block1, url, 524289, "1404"},
      {"block 0 again at a later address", 0, false, block0, url, -1, "1402"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Reply reply = uploader.Send(c.seqno, c.final, c.data, c.url, c.blockSizeField);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(ErrInfo(reply), c.errInfo) << reply.body.toStdString();
    EXPECT_TRUE(Url(reply).isEmpty());
  }
  // A retry of the block just kept (its answer was lost) gets the same address again.
  EXPECT_EQ(Url(uploader.Send(0, false, block0, "")), url);

  BlockUploader stranger(server_);
  EXPECT_EQ(ErrInfo(stranger.Send(1, false, block1, url)), "1409");
  EXPECT_EQ(ErrInfo(stranger.Send(0, false, block0, url)), "1405");

  // None of the refusals disturbed the session.
  const Reply second = uploader.Send(1, false, block1, url);
  const Reply last = uploader.Send(2, true, BlockUploader::BlockOf(*large_, 2), Url(second));
  ASSERT_GT(ContentId(last), 0) << last.body.toStdString();
  EXPECT_EQ(ReadFile(Contents(server_).at(ContentId(last)).path), *large_);
}

TEST_F(UploadSessionsTest, CancelDiscardsTheSessionAndItsData) {
  BlockUploader uploader(server_);
  const Reply first = uploader.Send(0, false, BlockUploader::BlockOf(*large_, 0), "");
  ASSERT_FALSE(Url(first).isEmpty());
  EXPECT_TRUE(server_.AdminGet("/admin/sessions").contains(uploader.SessionId()));
  const Reply cancel = uploader.Cancel();
  EXPECT_EQ(cancel.status, 200);
  EXPECT_EQ(ErrInfo(cancel), "1004");
  EXPECT_FALSE(server_.AdminGet("/admin/sessions").contains(uploader.SessionId()));
  EXPECT_TRUE(QDir(server_.DataDir() + "/sessions").isEmpty());
  EXPECT_EQ(ErrInfo(uploader.Send(1, false, BlockUploader::BlockOf(*large_, 1), Url(first))),
            "1401");
  EXPECT_EQ(ErrInfo(uploader.Cancel()), "1004");  // cancelling twice is harmless
  // The cancelled id does not block a fresh start under the same id.
  EXPECT_FALSE(Url(uploader.Send(0, false, BlockUploader::BlockOf(*large_, 0), "")).isEmpty());
}

// Files in the sessions folder, sorted.
QStringList SessionFiles(const KqServerProcess& server) {
  return QDir(server.DataDir() + "/sessions")
      .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

bool AppendTo(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
}

TEST_F(UploadSessionsTest, UnfinishedUploadsAreTakenUpAgainAfterTheServerStopsOrDies) {
  for (const bool crash : {false, true}) {
    SCOPED_TRACE(crash ? "killed" : "stopped");
    BlockUploader uploader(server_);
    const QByteArray block1 = BlockUploader::BlockOf(*large_, 1);
    const QByteArray url1 = Url(uploader.Send(0, false, BlockUploader::BlockOf(*large_, 0), ""));
    ASSERT_FALSE(url1.isEmpty());
    const QByteArray url2 = Url(uploader.Send(1, false, block1, url1));
    ASSERT_FALSE(url2.isEmpty());
    const QString part = server_.DataDir() + "/sessions/" + uploader.SessionId() + ".part";
    if (crash) {
      ASSERT_EQ(::kill(static_cast<pid_t>(server_.Pid()), SIGKILL), 0);
    } else {
      server_.Stop();
    }
    // What a block cut off by the end of the run leaves behind (longer than the final block,
    // so it would show in the archive), and files no session owns.
    ASSERT_TRUE(AppendTo(part, QByteArray(BlockUploader::kBlockSize, 'g')));
    ASSERT_TRUE(AppendTo(server_.DataDir() + "/sessions/stray.part", "x"));
    ASSERT_TRUE(AppendTo(server_.DataDir() + "/sessions/bad.session", "kqsession 1\nid zz\n"));
    ASSERT_TRUE(server_.Restart()) << server_.ErrorText().toStdString();
    EXPECT_EQ(SessionFiles(server_),
              QStringList({uploader.SessionId() + ".part", uploader.SessionId() + ".session"}));
    const QByteArray sessions = server_.AdminGet("/admin/sessions");
    EXPECT_TRUE(sessions.contains("id=\"" + uploader.SessionId() +
                                  "\" account=\"demo\" "
                                  "nextSeqno=\"2\" bytes=\"1048576\""))
        << sessions.toStdString();

    // The uploader never saw the answer to block 1: its retry is answered as before.
    EXPECT_EQ(Url(uploader.Send(1, false, block1, url1)), url2);
    ASSERT_TRUE(server_.Restart()) << server_.ErrorText().toStdString();
    const Reply last = uploader.Send(2, true, BlockUploader::BlockOf(*large_, 2), url2);
    ASSERT_GT(ContentId(last), 0) << last.body.toStdString();
    EXPECT_EQ(ReadFile(Contents(server_).at(ContentId(last)).path), *large_);
    EXPECT_EQ(SessionFiles(server_), QStringList());

    // Its answer lost to another restart, the final block is answered again, not stored twice.
    const size_t stored = Contents(server_).size();
    ASSERT_TRUE(server_.Restart()) << server_.ErrorText().toStdString();
    const Reply again = uploader.Send(2, true, BlockUploader::BlockOf(*large_, 2), url2);
    EXPECT_EQ(ContentId(again), ContentId(last)) << again.body.toStdString();
    EXPECT_EQ(Contents(server_).size(), stored);
  }
}

TEST(UploadSessionsExpiryTest, ForgottenSessionsAreRefusedWithTheirOwnCodeAndTheirDataRemoved) {
  constexpr int kExpiryMs = 1500;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--init-demo", "--accept-any-archive", "--limit",
                            "session-expiry-ms=" + QString::number(kExpiryMs)}))
      << server.ErrorText().toStdString();
  const QByteArray block(BlockUploader::kBlockSize, 'e');
  BlockUploader whileRunning(server);
  BlockUploader acrossRestart(server);
  const QByteArray url = Url(whileRunning.Send(0, false, block, ""));
  ASSERT_FALSE(url.isEmpty());
  const QByteArray otherUrl = Url(acrossRestart.Send(0, false, block, ""));
  ASSERT_FALSE(otherUrl.isEmpty());
  server.Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(kExpiryMs + 300));
  ASSERT_TRUE(server.Restart()) << server.ErrorText().toStdString();
  // Expired while the server was down: gone at start.
  EXPECT_EQ(SessionFiles(server), QStringList());
  EXPECT_EQ(ErrInfo(acrossRestart.Send(1, true, "z", otherUrl)), "1409");

  const QByteArray fresh = Url(whileRunning.Send(0, false, block, ""));  // same id, new start
  ASSERT_FALSE(fresh.isEmpty());
  EXPECT_EQ(SessionFiles(server).size(), 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(kExpiryMs + 300));
  // Expired while the server runs: its next block hears 1409, and its data is gone.
  EXPECT_EQ(ErrInfo(whileRunning.Send(1, true, "z", fresh)), "1409");
  EXPECT_EQ(SessionFiles(server), QStringList());
  EXPECT_FALSE(server.AdminGet("/admin/sessions").contains(whileRunning.SessionId()));
  // A session that keeps sending blocks does not expire.
  BlockUploader steady(server);
  QByteArray next = Url(steady.Send(0, false, block, ""));
  for (qint64 seqno = 1; seqno < 4; ++seqno) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kExpiryMs * 2 / 3));
    next = Url(steady.Send(seqno, false, block, next));
    ASSERT_FALSE(next.isEmpty()) << "block " << seqno;
  }
}

TEST_F(UploadSessionsTest, ArchivesThatAreNotReadableZipsAreRefused) {
  const qint64 freeBefore = FreeBytes(server_, "demo");
  const size_t contentsBefore = Contents(server_).size();
  QByteArray damaged = *small_;
  damaged.chop(30);  // the end of the central directory is gone
  for (const QByteArray& file : {QByteArray(5000, 'x'), damaged, QByteArray()}) {
    BlockUploader uploader(server_);
    EXPECT_EQ(ErrInfo(uploader.UploadAll(file)), "1406");
  }
  EXPECT_EQ(Contents(server_).size(), contentsBefore);
  EXPECT_EQ(FreeBytes(server_, "demo"), freeBefore);
}

TEST_F(UploadSessionsTest, ArchiveCheckCanBeSwitchedOffForOtherFiles) {
  KqServerProcess lenient;
  ASSERT_TRUE(lenient.Start({"--init-demo", "--accept-any-archive"}));
  QByteArray noise(BlockUploader::kBlockSize + 99, 'n');
  noise[7] = 'x';
  const Reply reply = BlockUploader(lenient).UploadAll(noise);
  ASSERT_GT(ContentId(reply), 0) << reply.body.toStdString();
  EXPECT_EQ(ReadFile(Contents(lenient).at(ContentId(reply)).path), noise);
}

TEST_F(UploadSessionsTest, ContentIdReplacesOwnContentOnly) {
  const Reply original = BlockUploader(server_).UploadAll(*large_);
  const qint64 id = ContentId(original);
  ASSERT_GT(id, 0);
  const qint64 freeAfterOriginal = FreeBytes(server_, "demo");

  const Reply replaced = BlockUploader(server_, "demo", "demo", 2, id).UploadAll(*small_);
  EXPECT_EQ(ContentId(replaced), id);
  EXPECT_EQ(ReadFile(Contents(server_).at(id).path), *small_);
  // Only the difference counts against the quota.
  EXPECT_EQ(FreeBytes(server_, "demo"), freeAfterOriginal + large_->size() - small_->size());

  ASSERT_TRUE(server_.Seed(R"(<kqserver><account name="demo"><content id="301" folder="2"
      overwrite="3"/></account><account name="other" password="o"><content id="302" folder="9"/>
      </account></kqserver>)"));
  EXPECT_EQ(ErrInfo(BlockUploader(server_, "demo", "demo", 2, 301).UploadAll(*small_)), "1203");
  EXPECT_EQ(ErrInfo(BlockUploader(server_, "demo", "demo", 3, id).UploadAll(*small_)), "1203");
  const qint64 fresh = ContentId(BlockUploader(server_, "demo", "demo", 2, 302).UploadAll(*small_));
  EXPECT_GT(fresh, 0);
  EXPECT_NE(fresh, 302);
  EXPECT_EQ(Contents(server_).at(302).account, "other");
}

TEST_F(UploadSessionsTest, QuotaStopsUploadsThatDoNotFit) {
  ASSERT_TRUE(server_.Seed(R"(<kqserver>
      <account name="small" password="s"><quota total="10" free="10" maxsize="1"/>
        <folder id="1" pid="0" name="f" uploadable="1"/></account>
      <account name="full" password="f"><quota total="10" freeBytes="600000" maxsize="10"/>
        <folder id="1" pid="0" name="f" uploadable="1"/></account></kqserver>)"));
  const BlockUploader tooLarge(server_, "small", "s", 1);
  EXPECT_EQ(ErrInfo(tooLarge.UploadAll(*large_)), "1301");
  // The uploader retries a refused block; the retry must still say why.
  EXPECT_EQ(ErrInfo(tooLarge.Send(2, true, BlockUploader::BlockOf(*large_, 2), "abc")), "1301");
  EXPECT_EQ(ErrInfo(BlockUploader(server_, "full", "f", 1).UploadAll(*large_)), "1302");
  EXPECT_TRUE(QDir(server_.DataDir() + "/sessions").isEmpty());
  // What fits still goes in, and the free space shrinks by exactly its size.
  const Reply fits = BlockUploader(server_, "full", "f", 1).UploadAll(*small_);
  EXPECT_GT(ContentId(fits), 0);
  EXPECT_EQ(FreeBytes(server_, "full"), 600000 - small_->size());
}

TEST_F(UploadSessionsTest, BlocksNeedTheAccountsPassword) {
  EXPECT_EQ(ErrInfo(BlockUploader(server_, "demo", "wrong").UploadAll(*small_)), "1103");
  EXPECT_EQ(ErrInfo(BlockUploader(server_, "nobody", "demo").UploadAll(*small_)), "1103");
  const QByteArray digest =
      QCryptographicHash::hash(QCryptographicHash::hash("demo", QCryptographicHash::Md5).toHex(),
                               QCryptographicHash::Md5)
          .toHex();
  ASSERT_TRUE(server_.Seed(R"(<kqserver><account name="demo-digest">
      <quota total="100" free="100" maxsize="100"/></account></kqserver>)"));
  EXPECT_GT(ContentId(BlockUploader(server_, "demo-digest", digest, 10).UploadAll(*small_)), 0);
}

}  // namespace
