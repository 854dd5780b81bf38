#include "tests/support/KqServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace {

constexpr int kStartWaitMs = 20000;
constexpr int kReplyWaitMs = 60000;

// The environment names the program folder when the test runner sets it; the build's own
// folder is the fallback.
QString ProgramDir() {
  const QByteArray dir = qgetenv("CLIPFERRY_PROGRAM_DIR");
  return dir.isEmpty() ? QStringLiteral(KQSERVER_PROGRAM_DIR) : QString::fromLocal8Bit(dir);
}

}  // namespace

KqServerProcess::KqServerProcess() = default;

KqServerProcess::~KqServerProcess() { Stop(); }

bool KqServerProcess::Start(const QStringList& extraArgs) {
  Stop();
  dataDir_ = std::make_unique<QTemporaryDir>();
  if (!dataDir_->isValid()) {
    error_ = "cannot create a data folder";
    return false;
  }
  extraArgs_ = extraArgs;
  return Launch();
}

bool KqServerProcess::Restart(bool samePort) {
  const int port = samePort ? lastPort_ : 0;
  Stop();
  return dataDir_ && Launch(port);
}

bool KqServerProcess::Launch(int port) {
  QStringList args{"--listen", QStringLiteral("127.0.0.1:%1").arg(port), "--data",
                   dataDir_->path()};
  args << extraArgs_;
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.setChildProcessModifier(childSetup_ ? childSetup_ : [] {});
  process_.start(ProgramDir() + "/kqserver", args);
  if (!process_.waitForStarted(kStartWaitMs)) {
    error_ = "kqserver did not start: " + process_.errorString();
    return false;
  }
  const QRegularExpression ready(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\\s*$"));
  QDeadlineTimer deadline(kStartWaitMs);
  while (!deadline.hasExpired()) {
    if (!process_.canReadLine() && !process_.waitForReadyRead(static_cast<int>(
                                       std::max<qint64>(1, deadline.remainingTime())))) {
      if (process_.state() != QProcess::Running) break;
      continue;
    }
    while (process_.canReadLine()) {
      const auto match = ready.match(QString::fromUtf8(process_.readLine()));
      if (match.hasMatch()) {
        port_ = match.captured(1).toInt();
        lastPort_ = port_;
        return true;
      }
    }
  }
  error_ =
      "kqserver did not report its port (exit code " + QString::number(process_.exitCode()) + ")";
  Stop();
  return false;
}

void KqServerProcess::Stop() {
  if (process_.state() != QProcess::NotRunning) {
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  port_ = 0;
}

QString KqServerProcess::BaseUrl() const { return "127.0.0.1:" + QString::number(port_); }

QString KqServerProcess::DataDir() const { return dataDir_ ? dataDir_->path() : QString(); }

KqServerProcess::Reply KqServerProcess::Exchange(const QByteArray& request) const {
  Reply reply;
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return reply;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(sock);
    return reply;
  }
  qsizetype sent = 0;
  while (sent < request.size()) {
    const ssize_t n = ::send(sock, request.constData() + sent,
                             static_cast<size_t>(request.size() - sent), MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may close early; what it answered is still read below
    sent += n;
  }
  char buffer[65536];
  for (;;) {
    pollfd entry{sock, POLLIN, 0};
    if (::poll(&entry, 1, kReplyWaitMs) <= 0) break;
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    reply.raw.append(buffer, n);
  }
  ::close(sock);
  const qsizetype headerEnd = reply.raw.indexOf("\r\n\r\n");
  if (headerEnd < 0) return reply;
  reply.headers = reply.raw.left(headerEnd);
  reply.body = reply.raw.mid(headerEnd + 4);
  const QList<QByteArray> statusLine = reply.headers.left(reply.headers.indexOf("\r\n")).split(' ');
  if (statusLine.size() >= 2 && statusLine[0].startsWith("HTTP/")) {
    bool ok = false;
    const int status = statusLine[1].toInt(&ok);
    if (ok) reply.status = status;
  }
  return reply;
}

KqServerProcess::Reply KqServerProcess::Post(const QString& path, const QByteArray& body,
                                             const QByteArray& contentType) const {
  QByteArray request = "POST " + path.toUtf8() + " HTTP/1.0\r\nHost: " + BaseUrl().toUtf8() +
                       "\r\nUser-Agent: mavo\r\n";
  if (!contentType.isEmpty()) request += "Content-Type: " + contentType + "\r\n";
  request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
  return Exchange(request);
}

KqServerProcess::Reply KqServerProcess::AdminPost(const QString& path, const QByteArray& body,
                                                  const QByteArray& contentType) const {
  return Exchange("POST " + path.toUtf8() + " HTTP/1.0\r\nHost: " + BaseUrl().toUtf8() + "\r\n" +
                  kAdminHeaderLine + "Content-Type: " + contentType +
                  "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

bool KqServerProcess::ArmFault(const QString& rule) {
  return AdminPost("/admin/fault", rule.toUtf8(), "text/plain").status == 200;
}

bool KqServerProcess::ClearFaults() {
  return AdminPost("/admin/faults/clear", {}, "text/plain").status == 200;
}

bool KqServerProcess::Seed(const QString& xml) {
  return AdminPost("/admin/seed", xml.toUtf8(), "text/xml").status == 200;
}

qint64 KqServerProcess::BodyBytesReceived(const QString& pathPrefix) const {
  QFile log(QDir(DataDir()).filePath(QStringLiteral("requests.log")));
  if (!log.open(QIODevice::ReadOnly)) return 0;
  static const QRegularExpression in(QStringLiteral(" in=(\\d+) "));
  qint64 total = 0;
  for (const QString& line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
    if (!line.contains(QLatin1Char(' ') + pathPrefix)) continue;
    const QRegularExpressionMatch match = in.match(line);
    if (match.hasMatch()) total += match.captured(1).toLongLong();
  }
  return total;
}

QByteArray KqServerProcess::LastStoredSha256() {
  const QByteArray contents = AdminGet(QStringLiteral("/admin/contents?hash=1"));
  static const QRegularExpression sha(QStringLiteral("path=\"[^\"]+\"[^>]*sha256=\"([0-9a-f]+)\""));
  QRegularExpressionMatch last;
  for (const auto& match : sha.globalMatch(QString::fromUtf8(contents))) last = match;
  return last.captured(1).toLatin1();
}

QByteArray KqServerProcess::AdminGet(const QString& pathAndQuery) {
  const Reply reply =
      Exchange("GET " + pathAndQuery.toUtf8() + " HTTP/1.0\r\nHost: " + BaseUrl().toUtf8() +
               "\r\n" + kAdminHeaderLine + "\r\n");
  return reply.status == 200 ? reply.body : QByteArray();
}
