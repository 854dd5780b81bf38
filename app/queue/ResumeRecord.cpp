#include "app/queue/ResumeRecord.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace cf {

namespace {

constexpr const char* kSuffix = ".resume";
constexpr qint64 kMaxRecordBytes = 4096;

}  // namespace

QString ResumeRecord::PathFor(const QString& archive) { return archive + QLatin1String(kSuffix); }

QString ResumeRecord::Target(const QString& address, const QString& account, int folderID,
                             int contentNumber) {
  return address + QLatin1Char('\t') + account + QLatin1Char('\t') + QString::number(folderID) +
         QLatin1Char('\t') + QString::number(contentNumber);
}

QByteArray ResumeRecord::HashFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file)) return {};
  return hash.result().toHex();
}

QByteArray ResumeRecord::HashFileWhileEventsRun(const QString& path) {
  QByteArray hash;
  const std::unique_ptr<QThread> worker(QThread::create([&hash, path] { hash = HashFile(path); }));
  QEventLoop loop;
  // Queued to this thread, so a worker that ends before exec() still ends the loop.
  QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
  worker->start();
  loop.exec();
  worker->wait();
  return hash;
}

bool ResumeRecord::Load(const QString& archive, ResumeRecord* record) {
  QFile file(PathFor(archive));
  if (!file.open(QIODevice::ReadOnly)) return false;
  return Parse(file.read(kMaxRecordBytes), record);
}

bool ResumeRecord::Parse(const QByteArray& text, ResumeRecord* record) {
  const QList<QByteArray> lines = text.split('\n');
  ResumeRecord read;
  bool seqnoOk = false;
  bool sizeOk = false;
  bool timeOk = false;
  for (const QByteArray& line : lines) {
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0) continue;
    const QByteArray key = line.left(equals);
    const QString value = QString::fromUtf8(line.mid(equals + 1));
    if (key == "target") {
      read.target = value;
    } else if (key == "sessID") {
      read.sessionId = value;
    } else if (key == "seqno") {
      read.nextSeqno = value.toInt(&seqnoOk);
    } else if (key == "url") {
      read.urlValue = value;
    } else if (key == "size") {
      read.archiveSize = value.toLongLong(&sizeOk);
    } else if (key == "mtime") {
      read.archiveModifiedMs = value.toLongLong(&timeOk);
    } else if (key == "sha256") {
      read.archiveSha256 = value.toLatin1();
    }
  }
  // Only a later block of a session is worth keeping, and it must lie inside the archive.
  const bool sound =
      seqnoOk && sizeOk && timeOk && !read.sessionId.isEmpty() && read.nextSeqno > 0 &&
      read.nextSeqno * kBlockBytes < read.archiveSize && read.archiveSha256.size() == 64 &&
      std::all_of(read.archiveSha256.begin(), read.archiveSha256.end(),
                  [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
  if (!sound) return false;
  *record = read;
  return true;
}

QByteArray ResumeRecord::Serialize() const {
  QByteArray text;
  text += "target=" + target.toUtf8() + '\n';
  text += "sessID=" + sessionId.toUtf8() + '\n';
  text += "seqno=" + QByteArray::number(nextSeqno) + '\n';
  text += "url=" + urlValue.toUtf8() + '\n';
  text += "size=" + QByteArray::number(archiveSize) + '\n';
  text += "mtime=" + QByteArray::number(archiveModifiedMs) + '\n';
  text += "sha256=" + archiveSha256 + '\n';
  return text;
}

bool ResumeRecord::Save(const QString& archive) const {
  // Written beside the record and renamed over it, so a crash leaves the old record or the new
  // one. Not synced to disk: this runs after every block on the thread that serves the window,
  // where a sync could take long on a busy disk and let the record fall blocks behind the
  // server; a record lost with the power is unsound or old, and costs a restart from block 0.
  const QString path = PathFor(archive);
  const QString partial = path + QStringLiteral(".new");
  QFile file(partial);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const QByteArray text = Serialize();
  const bool written = file.write(text) == text.size() && file.flush();
  file.close();
  if (!written || std::rename(QFile::encodeName(partial).constData(),
                              QFile::encodeName(path).constData()) != 0) {
    QFile::remove(partial);
    return false;
  }
  return true;
}

void ResumeRecord::Remove(const QString& archive) { QFile::remove(PathFor(archive)); }

bool ResumeRecord::Describes(const QString& archive) const {
  const QFileInfo info(archive);
  if (!info.isFile() || info.size() != archiveSize ||
      info.lastModified().toMSecsSinceEpoch() != archiveModifiedMs) {
    return false;
  }
  return HashFileWhileEventsRun(archive) == archiveSha256;
}

}  // namespace cf
