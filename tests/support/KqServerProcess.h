#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// Runs the reference server kqserver from the program folder on 127.0.0.1 with a fresh data
// folder, for tests that need a lecture-video server to talk to.
//
//   KqServerProcess server;
//   ASSERT_TRUE(server.Start({"--init-demo"}));
//   ... "http://" + server.BaseUrl() + "/mavo/getfolder/" ...
//   server.ArmFault("path=/mavo/putFile,block=1,status=500,once");
class KqServerProcess {
 public:
  // What came back for one raw request.
  struct Reply {
    int status = -1;  // -1 when no status line arrived (for example a dropped connection)
    QByteArray headers;
    QByteArray body;
    QByteArray raw;
  };

  KqServerProcess();
  ~KqServerProcess();
  KqServerProcess(const KqServerProcess&) = delete;
  KqServerProcess& operator=(const KqServerProcess&) = delete;

  // Starts the server; false (see ErrorText) when it did not report its port in time.
  bool Start(const QStringList& extraArgs = {});
  // Stops and starts again with the same arguments on the same data folder (and on the same
  // port when asked, as a server that comes back at its address).
  bool Restart(bool samePort = false);
  void Stop();

  // Runs in the server's process between fork and exec of the next Start (e.g. setrlimit).
  void SetChildSetup(std::function<void()> setup) { childSetup_ = std::move(setup); }
  qint64 Pid() const { return process_.processId(); }

  QString BaseUrl() const;  // "127.0.0.1:PORT"
  int Port() const { return port_; }
  QString DataDir() const;
  QString ErrorText() const { return error_; }

  // Arms a fault (syntax in tools/kqserver/README.md); true when the server took it.
  bool ArmFault(const QString& rule);
  bool ClearFaults();
  // Adds accounts, folders, contents or replies from a seed document.
  bool Seed(const QString& xml);
  // The answer body of GET /admin/... (for example "/admin/contents"), empty on failure.
  QByteArray AdminGet(const QString& pathAndQuery);
  // Body bytes the server read for requests whose path starts with `pathPrefix`, summed over its
  // request log: what a client really sent, retries and repeats included.
  qint64 BodyBytesReceived(const QString& pathPrefix) const;
  // The SHA-256 (hex) of the archive stored last, empty when none is stored.
  QByteArray LastStoredSha256();
  // A POST to an admin route with the header those routes require.
  Reply AdminPost(const QString& path, const QByteArray& body, const QByteArray& contentType) const;
  // Admin routes refuse requests without this header line.
  static constexpr const char* kAdminHeaderLine = "X-Kq-Admin: 1\r\n";

  // Sends these bytes as they are and reads everything until the server closes the connection.
  Reply Exchange(const QByteArray& request) const;
  // A POST of `body` with the given Content-Type (none when empty), HTTP/1.0.
  Reply Post(const QString& path, const QByteArray& body, const QByteArray& contentType = {}) const;

 private:
  bool Launch(int port = 0);

  std::unique_ptr<QTemporaryDir> dataDir_;
  QStringList extraArgs_;
  QProcess process_;
  std::function<void()> childSetup_;
  int port_ = 0;
  int lastPort_ = 0;  // kept after Stop, for a restart at the same address
  QString error_;
};
