// kqserver under abuse: slow and flooding clients, bursts of uploads, one greedy account,
// broken bodies, a full disk, and who may reach the admin routes.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <pugixml.hpp>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/KqServerProcess.h"
#include "tests/tools/kqserver/BlockUploader.h"
#include "tests/tools/kqserver/WireRequest.h"

namespace {

using Reply = KqServerProcess::Reply;
using namespace std::chrono_literals;

int Connect(int port) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (sock >= 0 && ::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(sock);
    return -1;
  }
  return sock;
}

bool SendAll(int sock, const QByteArray& bytes) {
  qsizetype sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(sock, bytes.constData() + sent,
                             static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += n;
  }
  return true;
}

// What the server sent until it closed the connection or `waitMs` passed without a byte.
QByteArray ReadUntilClosed(int sock, int waitMs) {
  QByteArray raw;
  char buffer[65536];
  for (;;) {
    pollfd entry{sock, POLLIN, 0};
    if (::poll(&entry, 1, waitMs) <= 0) break;
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    raw.append(buffer, n);
  }
  return raw;
}

int StatusOf(const QByteArray& raw) {
  if (!raw.startsWith("HTTP/1.")) return -1;
  return raw.mid(9, 3).toInt();
}

std::string ErrInfo(const QByteArray& body) { return BlockUploader::Value(body, "errInfo"); }

QByteArray BodyOf(const QByteArray& raw) { return raw.mid(raw.indexOf("\r\n\r\n") + 4); }

// kB of a /proc/PID/status line such as "VmRSS:".
qint64 StatusKb(qint64 pid, const QByteArray& key) {
  QFile status("/proc/" + QString::number(pid) + "/status");
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(key))
      return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
  }
  return -1;
}

QByteArray FolderRequest() {
  return "POST /mavo/getfolder/ HTTP/1.0\r\nContent-Type: " +
         QByteArray(WireRequest::kContentType) + "\r\nContent-Length: ";
}

QByteArray FolderBody() {
  return WireRequest::FormBody({{"account", "demo"}, {"password", "demo"}, {"tool", "v.2.1"}});
}

// A normal request while others misbehave: it must be answered, and quickly.
void ExpectPromptFolderList(const KqServerProcess& server, const char* when) {
  QElapsedTimer timer;
  timer.start();
  const Reply reply = server.Post("/mavo/getfolder/", FolderBody(), WireRequest::kContentType);
  EXPECT_EQ(reply.status, 200) << when;
  EXPECT_TRUE(reply.body.contains("<folder>")) << when;
  EXPECT_LT(timer.elapsed(), 1000) << when;
}

TEST(ServerLimitsTest, SlowClientsDoNotDelayOthersAndAreCutOffAtTheirDeadline) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start(
      {"--init-demo", "--limit", "head-timeout-ms=2000", "--limit", "min-body-rate=65536"}))
      << server.ErrorText().toStdString();
  const QByteArray body = FolderBody();
  const QByteArray head = FolderRequest() + QByteArray::number(body.size()) + "\r\n\r\n";

  // 20 trickle their head a byte at a time, 10 stall in the middle of it, 10 send the head and
  // then a body far below the minimum rate.
  struct Slow {
    int sock;
    enum { kTrickleHead, kStallHead, kSlowBody } kind;
    qsizetype sent = 0;
  };
  std::vector<Slow> slow;
  for (int i = 0; i < 40; ++i) {
    const int sock = Connect(server.Port());
    ASSERT_GE(sock, 0);
    Slow client{sock, i < 20 ? Slow::kTrickleHead : i < 30 ? Slow::kStallHead : Slow::kSlowBody};
    const QByteArray first = client.kind == Slow::kTrickleHead ? head.left(1)
                             : client.kind == Slow::kStallHead ? head.left(30)
                                                               : head + body.left(1);
    ASSERT_TRUE(SendAll(sock, first));
    client.sent = first.size();
    slow.push_back(client);
  }
  const auto started = std::chrono::steady_clock::now();
  int rounds = 0;
  while (std::chrono::steady_clock::now() - started < 4500ms) {
    if (rounds++ % 5 == 0) ExpectPromptFolderList(server, "while 40 clients are slow");
    for (auto& client : slow) {
      const QByteArray& all = client.kind == Slow::kSlowBody ? body : head;
      if (client.kind == Slow::kStallHead || client.sent >= all.size()) continue;
      // The trickle goes on after a refusal; the server no longer listens.
      ::send(client.sock, all.constData() + client.sent, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      ++client.sent;
    }
    std::this_thread::sleep_for(200ms);
  }
  // By now every slow client is past its deadline: told so, and its connection closed.
  for (const auto& client : slow) {
    const QByteArray raw = ReadUntilClosed(client.sock, 3000);
    EXPECT_EQ(StatusOf(raw), 408) << "client kind " << client.kind << ": " << raw.constData();
    EXPECT_EQ(ErrInfo(BodyOf(raw)), "408");
    ::close(client.sock);
  }
  ExpectPromptFolderList(server, "after the slow clients");
}

TEST(ServerLimitsTest, OversizedHeadsAreRefusedWith431AndTheServerStaysSmall) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--init-demo"})) << server.ErrorText().toStdString();
  const QByteArray body = FolderBody();
  const QByteArray end = "Content-Type: " + QByteArray(WireRequest::kContentType) +
                         "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                         body;
  QByteArray manyLines;
  for (int i = 0; i < 150; ++i) manyLines += "X-Line-" + QByteArray::number(i) + ": 1\r\n";
  struct Case {
    const char* name;
    QByteArray request;
    int status;
  };
  const std::vector<Case> cases = {
      {"a normal head", "POST /mavo/getfolder/ HTTP/1.0\r\n" + end, 200},
      {"100 header lines",
       "POST /mavo/getfolder/ HTTP/1.0\r\n" + manyLines.left(manyLines.indexOf("X-Line-98:")) + end,
       200},
      {"150 header lines", "POST /mavo/getfolder/ HTTP/1.0\r\n" + manyLines + end, 431},
      {"one 100 KB header",
       "POST /mavo/getfolder/ HTTP/1.0\r\nX-Big: " + QByteArray(100000, 'a') + "\r\n" + end, 431},
      {"a 100 KB address", "POST /mavo/" + QByteArray(100000, 'a') + " HTTP/1.0\r\n" + end, 431},
  };
  for (const auto& c : cases) {
    const Reply reply = server.Exchange(c.request);
    EXPECT_EQ(reply.status, c.status) << c.name;
    if (c.status == 431) {
      EXPECT_EQ(ErrInfo(reply.body), "431") << c.name;
    }
  }

  // A million header lines: the server reads no more than a head's worth and closes.
  const qint64 before = StatusKb(server.Pid(), "VmRSS:");
  const int sock = Connect(server.Port());
  ASSERT_GE(sock, 0);
  std::atomic<bool> flooding{true};
  std::thread reader([&] {
    const QByteArray raw = ReadUntilClosed(sock, 10000);
    EXPECT_TRUE(raw.isEmpty() || StatusOf(raw) == 431) << raw.left(200).constData();
    flooding = false;
  });
  QByteArray chunk;
  for (int i = 0; i < 10000; ++i) chunk += "X-Flood: " + QByteArray::number(i % 10) + "\r\n";
  SendAll(sock, "POST /mavo/getfolder/ HTTP/1.0\r\n");
  for (int i = 0; i < 100 && flooding; ++i) {
    if (!SendAll(sock, chunk)) break;  // cut off, as it should be
  }
  ::shutdown(sock, SHUT_WR);
  reader.join();
  ::close(sock);
  ExpectPromptFolderList(server, "after the flood");
  const qint64 after = StatusKb(server.Pid(), "VmRSS:");
  const qint64 peak = StatusKb(server.Pid(), "VmHWM:");
  ASSERT_GT(before, 0);
  EXPECT_LT(after, 64 * 1024) << "kB resident";
  EXPECT_LT(peak - before, 32 * 1024) << "kB grown at the peak";
}

TEST(ServerLimitsTest, BodiesShorterThanAnnouncedAreRefusedNotAccepted) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--init-demo"})) << server.ErrorText().toStdString();
  const QByteArray block = WireRequest::BlockBody("demo", "demo", 2, -1, "17000000001234512345", 0,
                                                  false, QByteArray(524288, 'b'));
  struct Case {
    const char* path;
    QByteArray body;
  };
  const std::vector<Case> cases = {
      {"/mavo/getfolder/", FolderBody()},
      {"/mavo/putFile/", block},
      {"/sink", QByteArray(100000, 's')},
  };
  for (const auto& c : cases) {
    const int sock = Connect(server.Port());
    ASSERT_GE(sock, 0);
    ASSERT_TRUE(SendAll(sock, "POST " + QByteArray(c.path) +
                                  " HTTP/1.0\r\nContent-Type: " + WireRequest::kContentType +
                                  "\r\nContent-Length: " + QByteArray::number(c.body.size()) +
                                  "\r\n\r\n" + c.body.left(c.body.size() - 10)));
    ::shutdown(sock, SHUT_WR);  // ten bytes short
    const QByteArray raw = ReadUntilClosed(sock, 20000);
    ::close(sock);
    EXPECT_EQ(StatusOf(raw), 400) << c.path;
    EXPECT_EQ(ErrInfo(BodyOf(raw)), "1501") << c.path;
  }
  // Nothing of the broken block was kept.
  EXPECT_TRUE(server.AdminGet("/admin/sessions").contains("bytes=\"0\""));
}

TEST(ServerLimitsTest, ManyConcurrentUploadsAllArriveWhole) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer build moves bytes several times slower; fewer bytes, the same concurrency.
  constexpr qint64 kBlocks = 4;
#else
  constexpr qint64 kBlocks = 16;  // 8 MiB
#endif
  constexpr int kUploads = 200;
  constexpr int kAccounts = 20;  // sessions per account are limited
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--accept-any-archive"})) << server.ErrorText().toStdString();
  QString seed = "<kqserver>";
  for (int a = 0; a < kAccounts; ++a) {
    seed += "<account name=\"load" + QString::number(a) +
            "\" password=\"pw\"><folder id=\"2\" pid=\"1\" name=\"F\" uploadable=\"1\"/>"
            "</account>";
  }
  ASSERT_TRUE(server.Seed(seed + "</kqserver>"));

  QByteArray base(BlockUploader::kBlockSize, Qt::Uninitialized);
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(base.data()), base.size() / 4);
  // Every block of every upload differs from all others in its first bytes.
  const auto blockOf = [&base](int upload, qint64 seqno) {
    QByteArray data = base;
    const QByteArray tag = QByteArray::number(upload) + "/" + QByteArray::number(seqno) + "/";
    return data.replace(0, tag.size(), tag);
  };
  std::vector<std::string> contentIds(kUploads);
  std::vector<std::string> failures(kUploads);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int u = 0; u < kUploads; ++u) {
    threads.emplace_back([&, u] {
      BlockUploader uploader(server, "load" + QByteArray::number(u % kAccounts), "pw", 2, -1);
      // All start together, so that the connections arrive as one burst.
      ++ready;
      while (ready < kUploads) std::this_thread::sleep_for(1ms);
      QByteArray url;
      for (qint64 seqno = 0; seqno < kBlocks; ++seqno) {
        const bool final = seqno == kBlocks - 1;
        const Reply reply = uploader.Send(seqno, final, blockOf(u, seqno), url);
        if (reply.status != 200 || !ErrInfo(reply.body).empty()) {
          failures[u] = "block " + std::to_string(seqno) + ": status " +
                        std::to_string(reply.status) + " " + reply.body.toStdString();
          return;
        }
        url = QByteArray::fromStdString(BlockUploader::Value(reply.body, "url"));
        if (final) contentIds[u] = BlockUploader::Value(reply.body, "contentID");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int u = 0; u < kUploads; ++u) EXPECT_EQ(failures[u], "") << "upload " << u;

  pugi::xml_document contents;
  const QByteArray xml = server.AdminGet("/admin/contents");
  ASSERT_TRUE(contents.load_buffer(xml.constData(), static_cast<size_t>(xml.size())));
  std::map<std::string, QString> stored;
  for (const auto& node : contents.document_element().children("content")) {
    stored[node.attribute("id").value()] = QString::fromUtf8(node.attribute("path").value());
  }
  for (int u = 0; u < kUploads && failures[u].empty(); ++u) {
    QFile file(stored[contentIds[u]]);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "upload " << u;
    ASSERT_EQ(file.size(), kBlocks * BlockUploader::kBlockSize) << "upload " << u;
    for (qint64 seqno = 0; seqno < kBlocks; ++seqno) {
      ASSERT_TRUE(file.read(BlockUploader::kBlockSize) == blockOf(u, seqno))
          << "upload " << u << " block " << seqno;
    }
  }
}

class ServerLimitsSessionTest : public ::testing::Test {
 protected:
  static constexpr int kStaleMs = 1500;

  void SetUp() override {
    ASSERT_TRUE(server_.Start({"--init-demo", "--accept-any-archive", "--limit", "sessions=5",
                               "--limit", "sessions-per-account=3", "--limit",
                               "stale-session-ms=" + QString::number(kStaleMs)}))
        << server_.ErrorText().toStdString();
    ASSERT_TRUE(server_.Seed(
        "<kqserver><account name=\"other\" password=\"pw\">"
        "<folder id=\"2\" pid=\"1\" name=\"F\" uploadable=\"1\"/></account></kqserver>"));
  }

  // Block 0 of a new upload; the address for block 1, or the errInfo.
  std::string Open(BlockUploader& uploader) {
    const Reply reply = uploader.Send(0, false, QByteArray(BlockUploader::kBlockSize, 'x'), "");
    const std::string url = BlockUploader::Value(reply.body, "url");
    return url.empty() ? "errInfo " + ErrInfo(reply.body) : url;
  }

  KqServerProcess server_;
};

TEST_F(ServerLimitsSessionTest, AGreedyAccountWaitsForItsOwnStaleSessionsAndLocksNobodyOut) {
  std::vector<std::unique_ptr<BlockUploader>> greedy;
  std::vector<std::string> urls;
  for (int i = 0; i < 4; ++i) {
    greedy.push_back(std::make_unique<BlockUploader>(server_));
    urls.push_back(Open(*greedy.back()));
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(urls[i].size(), 3u) << urls[i];
  EXPECT_EQ(urls[3], "errInfo 1408");  // the others are not stale yet

  // Another account is not affected by demo's sessions.
  BlockUploader other(server_, "other", "pw", 2, -1);
  const Reply done = other.UploadAll(QByteArray(BlockUploader::kBlockSize + 10, 'o'));
  EXPECT_NE(BlockUploader::Value(done.body, "contentID"), "") << done.body.toStdString();

  // Keep the third session busy, let the first two go stale: a new session ends the oldest.
  std::this_thread::sleep_for(std::chrono::milliseconds(kStaleMs / 2));
  const Reply third = greedy[2]->Send(1, false, QByteArray(BlockUploader::kBlockSize, 'y'),
                                      QByteArray::fromStdString(urls[2]));
  ASSERT_NE(BlockUploader::Value(third.body, "url"), "") << third.body.toStdString();
  urls[2] = BlockUploader::Value(third.body, "url");
  std::this_thread::sleep_for(std::chrono::milliseconds(kStaleMs / 2 + 300));
  greedy[3]->NewSession();
  EXPECT_EQ(Open(*greedy[3]).size(), 3u);
  const QByteArray sessions = server_.AdminGet("/admin/sessions");
  EXPECT_FALSE(sessions.contains(greedy[0]->SessionId()));
  EXPECT_TRUE(sessions.contains(greedy[1]->SessionId()));
  EXPECT_TRUE(sessions.contains(greedy[2]->SessionId()));
  const Reply ended = greedy[0]->Send(1, true, "z", QByteArray::fromStdString(urls[0]));
  EXPECT_EQ(ErrInfo(ended.body), "1401");
  const Reply goesOn = greedy[2]->Send(2, true, "z", QByteArray::fromStdString(urls[2]));
  EXPECT_NE(BlockUploader::Value(goesOn.body, "contentID"), "") << goesOn.body.toStdString();
}

TEST_F(ServerLimitsSessionTest, AStaleSessionKeepsItsPlaceWhileThereIsRoom) {
  // An uploader that lost its connection comes back after more than the stale time.
  BlockUploader away(server_);
  const std::string url = Open(away);
  ASSERT_EQ(url.size(), 3u) << url;
  std::this_thread::sleep_for(std::chrono::milliseconds(kStaleMs + 300));
  for (int i = 0; i < 2; ++i) {
    BlockUploader meanwhile(server_);
    EXPECT_EQ(Open(meanwhile).size(), 3u) << i;  // the account reaches its limit of three
  }
  const Reply resumed = away.Send(1, true, "z", QByteArray::fromStdString(url));
  EXPECT_NE(BlockUploader::Value(resumed.body, "contentID"), "") << resumed.body.toStdString();
}

TEST_F(ServerLimitsSessionTest, WhenAllSessionsAreTakenTheOldestStaleOneOfAnyAccountGivesWay) {
  std::vector<std::unique_ptr<BlockUploader>> uploads;
  for (int i = 0; i < 5; ++i) {
    uploads.push_back(i < 3 ? std::make_unique<BlockUploader>(server_)
                            : std::make_unique<BlockUploader>(server_, "other", "pw", 2, -1));
    EXPECT_EQ(Open(*uploads.back()).size(), 3u) << i;
  }
  BlockUploader late(server_, "other", "pw", 2, -1);
  EXPECT_EQ(Open(late), "errInfo 1408");  // under its own limit, but all five are taken
  std::this_thread::sleep_for(std::chrono::milliseconds(kStaleMs + 300));
  late.NewSession();
  EXPECT_EQ(Open(late).size(), 3u);
  const QByteArray sessions = server_.AdminGet("/admin/sessions");
  EXPECT_FALSE(sessions.contains(uploads[0]->SessionId()));  // demo's, the oldest
  for (int i = 1; i < 5; ++i) EXPECT_TRUE(sessions.contains(uploads[i]->SessionId())) << i;
}

TEST(ServerLimitsTest, AnUploadThatCannotBeWrittenIsClosedAndItsPartRemoved) {
  KqServerProcess server;
  // Files of the server may not grow past 1 MiB: the third block cannot be written.
  server.SetChildSetup([] {
    const rlimit limit{1024 * 1024, 1024 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  });
  ASSERT_TRUE(server.Start({"--init-demo", "--accept-any-archive"}))
      << server.ErrorText().toStdString();
  BlockUploader uploader(server);
  const QByteArray file(3 * BlockUploader::kBlockSize, 'f');
  const Reply reply = uploader.UploadAll(file);
  EXPECT_EQ(ErrInfo(reply.body), "1407") << reply.body.toStdString();
  EXPECT_FALSE(server.AdminGet("/admin/sessions").contains(uploader.SessionId()));
  EXPECT_EQ(QDir(server.DataDir() + "/sessions").entryList(QDir::Files), QStringList());
  // Its retry hears the same; a new upload that fits still goes through.
  const Reply retry = uploader.Send(2, true, BlockUploader::BlockOf(file, 2), "abc");
  EXPECT_EQ(ErrInfo(retry.body), "1407");
  BlockUploader small(server);
  EXPECT_NE(BlockUploader::Value(small.UploadAll("small").body, "contentID"), "");
}

TEST(ServerLimitsTest, TheDatabaseIsReadableOnlyByItsOwner) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--init-demo"})) << server.ErrorText().toStdString();
  const QByteArray db = QFile::encodeName(server.DataDir() + "/kqserver.db");
  struct stat info {};
  ASSERT_EQ(::stat(db.constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // A database an older run left readable is closed up on the next start.
  ASSERT_EQ(::chmod(db.constData(), 0644), 0);
  ASSERT_TRUE(server.Restart());
  ASSERT_EQ(::stat(db.constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(ServerLimitsTest, AdminRoutesNeedTheirHeader) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--init-demo"})) << server.ErrorText().toStdString();
  // What a web page can make a browser send: a plain-text form post, or a GET.
  const Reply armed = server.Post("/admin/fault", "status=500,always", "text/plain");
  EXPECT_EQ(armed.status, 403);
  const Reply listed = server.Exchange("GET /admin/contents HTTP/1.0\r\n\r\n");
  EXPECT_EQ(listed.status, 403);
  EXPECT_FALSE(listed.body.contains("<contents"));
  EXPECT_EQ(server.Post("/mavo/getfolder/", FolderBody(), WireRequest::kContentType).status, 200);
  EXPECT_TRUE(server.AdminGet("/admin/faults").contains("<faults"));
  EXPECT_FALSE(server.AdminGet("/admin/faults").contains("<fault "));
  EXPECT_TRUE(server.ArmFault("status=500,once"));
  EXPECT_EQ(server.Post("/mavo/getfolder/", FolderBody(), WireRequest::kContentType).status, 500);
}

}  // namespace

namespace {

// One answer read by its Content-Length from a connection that may stay open.
QByteArray ReadAnswer(int sock) {
  QByteArray raw;
  char buffer[4096];
  for (;;) {
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd >= 0) {
      const QByteArray head = raw.left(headEnd).toLower();
      const qsizetype at = head.indexOf("content-length:");
      if (at < 0) return raw;
      const qsizetype length =
          head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
      if (raw.size() >= headEnd + 4 + length) return raw;
    }
    pollfd entry{sock, POLLIN, 0};
    if (::poll(&entry, 1, 10000) <= 0) return raw;
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) return raw;
    raw.append(buffer, n);
  }
}

// Distinct client connections in the request log.
int ConnectionsLogged(const KqServerProcess& server) {
  QFile log(server.DataDir() + "/requests.log");
  if (!log.open(QIODevice::ReadOnly)) return -1;
  QSet<QByteArray> peers;
  for (const QByteArray& line : log.readAll().split('\n')) {
    const QList<QByteArray> words = line.split(' ');
    if (words.size() > 1) peers.insert(words[1]);
  }
  return static_cast<int>(peers.size());
}

TEST(ServerLimitsTest, Http10ClientsThatAskForKeepAliveReuseTheirConnection) {
  struct Case {
    const char* name;
    QByteArray version;
    QByteArray connectionHeader;
    int answeredOnOneConnection;
  };
  const std::vector<Case> cases = {
      {"1.0 asking for keep-alive", "HTTP/1.0", "Connection: Keep-Alive\r\n", 3},
      {"1.0 in lower case", "HTTP/1.0", "Connection: keep-alive\r\n", 3},
      {"1.0 without the header", "HTTP/1.0", "", 1},
      {"1.1 asking to close", "HTTP/1.1", "Connection: close\r\n", 1},
      {"1.1 by default", "HTTP/1.1", "", 3},
  };
  for (const auto& c : cases) {
    KqServerProcess server;
    ASSERT_TRUE(server.Start({"--init-demo"})) << server.ErrorText().toStdString();
    const QByteArray body = FolderBody();
    const QByteArray request = "POST /mavo/getfolder/ " + c.version + "\r\nHost: x\r\n" +
                               c.connectionHeader + "Content-Type: " + WireRequest::kContentType +
                               "\r\nContent-Length: " + QByteArray::number(body.size()) +
                               "\r\n\r\n" + body;
    const int sock = Connect(server.Port());
    ASSERT_GE(sock, 0);
    int answered = 0;
    for (int i = 0; i < 3; ++i) {
      if (!SendAll(sock, request)) break;
      const QByteArray raw = ReadAnswer(sock);
      if (StatusOf(raw) != 200) break;
      ++answered;
      const bool keptOpen =
          raw.left(raw.indexOf("\r\n\r\n")).toLower().contains("connection: keep-alive");
      EXPECT_EQ(keptOpen, c.version == "HTTP/1.0" && c.answeredOnOneConnection > 1) << c.name;
    }
    ::close(sock);
    EXPECT_EQ(answered, c.answeredOnOneConnection) << c.name;
    EXPECT_EQ(ConnectionsLogged(server), 1) << c.name;
  }
}

}  // namespace
