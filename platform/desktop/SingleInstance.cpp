#include "platform/desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QtEndian>

namespace cf::desktop {

SingleInstance::SingleInstance(const QString& name) : key_(KeyFor(name)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

QString SingleInstance::KeyFor(const QString& name) {
  // Names hold blanks, paths and non-ASCII text; a digest gives a safe, fixed-length key.
  const QByteArray digest = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1);
  return QStringLiteral("clipferry-") + QString::fromLatin1(digest.toHex().left(20));
}

static QString LockPathFor(const QString& key) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  QDir().mkpath(folder);
  return QDir(folder).filePath(key + QStringLiteral(".lock"));
}

bool SingleInstance::Acquire() {
  lock_ = std::make_unique<OwnerLock>(LockPathFor(key_));
  if (!lock_->TryLock()) {
    lock_.reset();
    return false;
  }
  QLocalServer::removeServer(key_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->listen(key_);
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) Serve(client);
  });
  return true;
}

namespace {

// A frame is a 32-bit big-endian length and that many bytes.
QByteArray Frame(const QByteArray& payload) {
  QByteArray frame(4, '\0');
  qToBigEndian(static_cast<quint32>(payload.size()), frame.data());
  return frame + payload;
}

// The payload of a complete frame at the start of `buffer`; false while it is incomplete.
// `bad` is set for a frame no side would send.
bool TakeFrame(QByteArray& buffer, QByteArray* payload, bool* bad) {
  if (buffer.size() < 4) return false;
  const quint32 length = qFromBigEndian<quint32>(buffer.constData());
  if (length > SingleInstance::kMaxMessageBytes) {
    *bad = true;
    return false;
  }
  if (buffer.size() < 4 + static_cast<qsizetype>(length)) return false;
  *payload = buffer.mid(4, length);
  buffer.remove(0, 4 + length);
  return true;
}

}  // namespace

void SingleInstance::Serve(QLocalSocket* client) {
  auto buffer = std::make_shared<QByteArray>();
  QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
  QObject::connect(client, &QLocalSocket::readyRead, client, [this, client, buffer] {
    buffer->append(client->readAll());
    QByteArray message;
    bool bad = false;
    if (!TakeFrame(*buffer, &message, &bad)) {
      if (bad) client->abort();
      return;
    }
    const QByteArray answer = handler_ ? handler_(message) : QByteArray();
    client->write(Frame(answer));
    client->flush();
  });
}

bool SingleInstance::Send(const QString& name, const QByteArray& message, QByteArray* answer,
                          int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  QLocalSocket socket;
  socket.connectToServer(KeyFor(name));
  if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) return false;
  socket.write(Frame(message));
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return false;
  }
  QByteArray buffer;
  QByteArray payload;
  bool bad = false;
  while (!TakeFrame(buffer, &payload, &bad)) {
    if (bad || deadline.hasExpired()) return false;
    if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) return false;
    buffer.append(socket.readAll());
  }
  if (answer != nullptr) *answer = payload;
  return true;
}

bool SingleInstance::IsRunning(const QString& name) {
  const QString key = KeyFor(name);
  QLocalSocket socket;
  socket.connectToServer(key);
  if (socket.waitForConnected(200)) return true;
  // A copy that is starting holds the lock before it listens.
  return OwnerLock::IsHeld(LockPathFor(key));
}

}  // namespace cf::desktop
