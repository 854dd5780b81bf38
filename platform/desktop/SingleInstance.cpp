#include "platform/desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace cf::desktop {

SingleInstance::SingleInstance(const QString& windowTitle) : key_(KeyFor(windowTitle)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

QString SingleInstance::KeyFor(const QString& windowTitle) {
  // Titles hold blanks and non-ASCII text; a digest gives a safe, fixed-length name.
  const QByteArray digest =
      QCryptographicHash::hash(windowTitle.toUtf8(), QCryptographicHash::Sha1);
  return QStringLiteral("clipferry-") + QString::fromLatin1(digest.toHex().left(20));
}

static QString LockPathFor(const QString& key) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  QDir().mkpath(folder);
  return QDir(folder).filePath(key + QStringLiteral(".lock"));
}

bool SingleInstance::Acquire() {
  lock_ = std::make_unique<QLockFile>(LockPathFor(key_));
  // A lock left by a crashed copy is stale; QLockFile removes it when its process is gone.
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(100)) {
    lock_.reset();
    return false;
  }
  QLocalServer::removeServer(key_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->listen(key_);
  return true;
}

bool SingleInstance::IsRunning(const QString& windowTitle) {
  const QString key = KeyFor(windowTitle);
  QLocalSocket socket;
  socket.connectToServer(key);
  if (socket.waitForConnected(200)) return true;
  QLockFile probe(LockPathFor(key));
  probe.setStaleLockTime(0);
  if (probe.tryLock(0)) {
    probe.unlock();
    return false;
  }
  return true;
}

}  // namespace cf::desktop
