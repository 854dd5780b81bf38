// The blocks of one upload share a connection when the server agrees to keep it, and an upload
// still goes through, block for block, when the server closes connections its own way.

#include "platform/com/Bstr.h"
#include "tests/support/KqServerProcess.h"
#include "tests/upload_control/ControlHarness.h"
#include "tests/upload_control/RawHttpListener.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>

namespace {

using cf::com::Bstr;
using Request = RawHttpListener::Request;
using Reply = RawHttpListener::Reply;

constexpr qint64 kBlock = 524288;
const QByteArray kFinalAnswer = "<putFile><contentID>42</contentID></putFile>";

QByteArray Pattern(qint64 size) {
  QByteArray data(size, Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) data[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
  return data;
}

QString WriteFile(const QTemporaryDir& dir, const QByteArray& data) {
  const QString path = dir.filePath(QStringLiteral("upload.zip"));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(data);
  return path;
}

// An answer to a block that keeps the connection (HTTP/1.0 keep-alive with a length) or not.
QByteArray BlockAnswer(const Request& request, bool keep) {
  const QByteArray body = Fields(request)["sessFinish"] == "yes"
                              ? kFinalAnswer
                              : "<putFile><url>" + Fields(request)["seqno"] + "</url></putFile>";
  return "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n" +
         QByteArray(keep ? "Connection: keep-alive\r\n" : "") +
         "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QString PutFile(const QString& url, const QString& path) {
  ControlHarness control;
  control->PutFile(Bstr(url), Bstr(u"demo"), Bstr(u"demo"), 2, 500, Bstr(path));
  EXPECT_TRUE(control.WaitForEvents(1));
  return control.Response();
}

// The blocks received, in order of seqno, each taken once: what the server assembled.
QByteArray Assembled(const std::vector<Request>& requests) {
  std::map<int, QByteArray> blocks;
  const QByteArray header = "Content-Transfer-encoding: Binary\r\n\r\n";
  const QByteArray closing = "\r\n--Qu1llbox5_Xu02=$--";
  for (const Request& request : requests) {
    const qsizetype start = request.body.indexOf(header) + header.size();
    blocks[Fields(request)["seqno"].toInt()] =
        request.body.mid(start, request.body.size() - closing.size() - start);
  }
  QByteArray all;
  for (const auto& [seqno, data] : blocks) all += data;
  return all;
}

// The client addresses (one per connection) the server's log shows for block requests.
std::set<QString> BlockPeers(const KqServerProcess& server, int* requests) {
  QFile log(QDir(server.DataDir()).filePath(QStringLiteral("requests.log")));
  EXPECT_TRUE(log.open(QIODevice::ReadOnly));
  std::set<QString> peers;
  *requests = 0;
  const QRegularExpression peer(QStringLiteral(" (127\\.0\\.0\\.1:\\d+) POST /mavo/putFile"));
  for (const QByteArray& line : log.readAll().split('\n')) {
    const auto match = peer.match(QString::fromLatin1(line));
    if (!match.hasMatch()) continue;
    ++*requests;
    peers.insert(match.captured(1));
  }
  return peers;
}

KqServerProcess* StartServer(KqServerProcess& server) {
  if (!server.Start({QStringLiteral("--accept-any-archive")})) return nullptr;
  const bool seeded = server.Seed(QStringLiteral(
      "<kqserver><account name=\"demo\" password=\"demo\" digest=\"0\">"
      "<folder id=\"2\" pid=\"0\" name=\"F\" uploadable=\"1\"/>"
      "<content id=\"500\" folder=\"2\" overwrite=\"1\" size=\"0\"/></account></kqserver>"));
  return seeded ? &server : nullptr;
}

// Every way a server may treat a kept connection; the upload must arrive whole in each, and no
// block may need more attempts than the server's own refusals cost.
TEST(KeepAlive, BlocksShareAConnectionOnlyWhileTheServerKeepsIt) {
  enum class Server {
    kKeeps,               // keeps every connection
    kClosesAfterAnswers,  // answers without keep-alive and closes
    kDropsKeptOnNext,     // keeps, but closes a kept connection when the next request arrives
    kDropsKeptThenRefusesTwice,  // ... and the fresh connection then gets two 500s per block
  };
  struct Case {
    const char* name;
    Server server;
    const char* reuseSetting;  // nullptr: not set
    int connections;           // accepted connections for 4 blocks, -1: not checked
  };
  const Case cases[] = {
      {"kept", Server::kKeeps, nullptr, 1},
      {"reuse turned off", Server::kKeeps, "off", 4},
      {"server closes after each answer", Server::kClosesAfterAnswers, nullptr, 4},
      {"server drops each kept connection", Server::kDropsKeptOnNext, nullptr, 4},
      {"kept connection lost, then three attempts", Server::kDropsKeptThenRefusesTwice, nullptr,
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ScopedControlSetting> setting;
    if (c.reuseSetting) setting.emplace("reuseConnections", QString::fromLatin1(c.reuseSetting));
    std::map<QByteArray, int> refused;  // seqno -> 500s sent
    std::mutex refusedMutex;
    RawHttpListener listener([&](const Request& request, int) -> Reply {
      const bool kept = request.onConnection > 0;
      switch (c.server) {
        case Server::kKeeps:
          return {BlockAnswer(request, true), false, false, false, 0, true};
        case Server::kClosesAfterAnswers:
          return {BlockAnswer(request, false)};
        case Server::kDropsKeptOnNext:
          if (kept) return {{}, false, false, true};
          return {BlockAnswer(request, true), false, false, false, 0, true};
        case Server::kDropsKeptThenRefusesTwice: {
          if (kept) return {{}, false, false, true};
          std::lock_guard guard(refusedMutex);
          if (refused[Fields(request)["seqno"]]++ < 2)
            return {RawHttpListener::Answer(500, "<error/>")};
          return {BlockAnswer(request, true), false, false, false, 0, true};
        }
      }
      return {};
    });
    QTemporaryDir dir;
    const QByteArray data = Pattern(3 * kBlock + 17);
    const QString response =
        PutFile(listener.Url(QStringLiteral("/mavo/putFile/")), WriteFile(dir, data));
    EXPECT_EQ(response.toStdString(), kFinalAnswer.toStdString());

    const auto requests = listener.Requests();
    EXPECT_TRUE(Assembled(requests) == data);
    std::set<int> connections;
    for (const Request& request : requests) {
      connections.insert(request.connection);
      // The only header the reuse adds, and only while it is on.
      EXPECT_EQ(request.Header("Connection"),
                c.reuseSetting ? QByteArray() : QByteArray("Keep-Alive"));
    }
    if (c.connections >= 0) {
      EXPECT_EQ(static_cast<int>(connections.size()), c.connections);
    }
    if (c.server == Server::kDropsKeptThenRefusesTwice) {
      // Blocks 1 to 3 each lost a kept connection and were refused twice before their third
      // attempt went through: the lost connection was not counted as an attempt.
      for (const char* seqno : {"1", "2", "3"}) EXPECT_EQ(refused[seqno], 3) << seqno;
    }
  }
}

// Cancel closes the kept connection: the cancel request goes on a fresh connection of its own
// and does not ask to keep it.
TEST(KeepAlive, CancelClosesTheKeptConnection) {
  std::atomic<int> heads{0};
  std::atomic<kqmavo2::Imavo2*> target{nullptr};
  RawHttpListener listener([](const Request& request, int) -> Reply {
    return {BlockAnswer(request, true), false, false, false, 0, true};
  });
  listener.onHead = [&](const QByteArray&) {
    if (++heads == 2) target.load()->CancelPutFile();
  };
  QTemporaryDir dir;
  const QString path = WriteFile(dir, Pattern(3 * kBlock));
  ControlHarness control;
  target = control.Control();
  control->PutFile(Bstr(listener.Url(QStringLiteral("/mavo/putFile/"))), Bstr(u"demo"),
                   Bstr(u"demo"), 2, 500, Bstr(path));
  ASSERT_TRUE(control.WaitForEvents(1));

  const auto requests = listener.Requests();
  ASSERT_GE(requests.size(), 2u);
  const Request& cancel = requests.back();
  ASSERT_EQ(Fields(cancel)["sessFinish"], "cancel");
  EXPECT_EQ(cancel.onConnection, 0);
  EXPECT_TRUE(cancel.Header("Connection").isNull());
  for (std::size_t i = 0; i + 1 < requests.size(); ++i)
    EXPECT_NE(requests[i].connection, cancel.connection);
}

// Against the reference server: one connection carries block after block (at most as many as
// the server allows on one), and a 64 MiB upload whose every block is refused once arrives
// byte for byte.
TEST(KeepAlive, ReferenceServerGetsEveryBlockOnFewConnectionsEvenWhenEachFailsOnce) {
  KqServerProcess server;
  ASSERT_TRUE(StartServer(server)) << server.ErrorText().toStdString();
  constexpr int kBlocks = 128;
  for (int block = 0; block < kBlocks; ++block) {
    ASSERT_TRUE(
        server.ArmFault(QStringLiteral("path=/mavo/putFile,block=%1,status=500,once").arg(block)));
  }
  QTemporaryDir dir;
  const QByteArray data = Pattern(kBlocks * kBlock);
  const QString response = PutFile(QStringLiteral("http://%1/mavo/putFile/").arg(server.BaseUrl()),
                                   WriteFile(dir, data));
  EXPECT_TRUE(response.contains(QStringLiteral("<contentID>500</contentID>")))
      << response.toStdString();

  const QByteArray contents = server.AdminGet(QStringLiteral("/admin/contents?hash=1"));
  EXPECT_TRUE(contents.contains(
      "sha256=\"" + QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex() + "\""))
      << contents.toStdString();

  // Each refusal closes its connection, so every block's accepted retry opens one, and the
  // next block's refusal travels on it: about one connection per block, never two.
  int blockRequests = 0;
  const std::set<QString> peers = BlockPeers(server, &blockRequests);
  EXPECT_EQ(blockRequests, 2 * kBlocks);
  EXPECT_LE(static_cast<int>(peers.size()), kBlocks + 1);
}

TEST(KeepAlive, ReferenceServerKeepsOneConnectionForAWholeUpload) {
  KqServerProcess server;
  ASSERT_TRUE(StartServer(server)) << server.ErrorText().toStdString();
  QTemporaryDir dir;
  const QByteArray data = Pattern(10 * kBlock + 3);
  const QString response = PutFile(QStringLiteral("http://%1/mavo/putFile/").arg(server.BaseUrl()),
                                   WriteFile(dir, data));
  EXPECT_TRUE(response.contains(QStringLiteral("<contentID>500</contentID>")))
      << response.toStdString();
  int blockRequests = 0;
  const std::set<QString> peers = BlockPeers(server, &blockRequests);
  EXPECT_EQ(blockRequests, 11);
  EXPECT_EQ(peers.size(), 1u);
}

}  // namespace
