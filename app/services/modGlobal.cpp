#include "app/services/modGlobal.h"

#include "app/services/ProgramFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStorageInfo>

#include <cmath>

namespace {

void MakeWritable(const QString& path) {
  QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::ReadOwner);
}

}  // namespace

bool CopyFileForce(const QString& source, const QString& target) {
  if (!QFileInfo(source).isFile()) return false;
  if (QFileInfo::exists(target)) {
    MakeWritable(target);
    if (!QFile::remove(target)) return false;
  }
  return QFile::copy(source, target);
}

bool MoveFileForce(const QString& source, const QString& target) {
  if (!QFileInfo::exists(source)) return false;
  if (QFileInfo::exists(target)) {
    MakeWritable(target);
    if (!QFile::remove(target)) return false;
  }
  return QFile::rename(source, target);
}

bool DeleteFileForce(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return true;
  MakeWritable(path);
  return QFile::remove(path);
}

bool DeleteFolder(const QString& path) {
  // A link standing where the folder should be goes itself; following it would empty whatever
  // folder it points at.
  if (QFileInfo(path).isSymLink()) return QFile::remove(path);
  QDir dir(path);
  if (!dir.exists()) return true;
  // Read-only entries inside would stop removeRecursively: make every folder writable first.
  QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) MakeWritable(it.next());
  MakeWritable(path);
  return dir.removeRecursively();
}

int RecreateFolder(const QString& path) {
  const QFileInfo info(path);
  if (!info.absoluteDir().exists()) return 1;
  if (info.isSymLink() && !QFile::remove(path)) return 2;
  QDir dir(path);
  if (dir.exists() && !dir.removeRecursively()) return 2;
  if (!QDir().mkdir(path)) return 3;
  return 0;
}

qint64 GetFileSize(const QString& path) {
  const QFileInfo info(path);
  return info.isFile() ? info.size() : 0;
}

qint64 GetFileSizeKB(const QString& path) {
  return static_cast<qint64>(std::llround(static_cast<double>(GetFileSize(path)) / 1024.0));
}

qint64 GetFolderSize(const QString& path) {
  qint64 total = 0;
  QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    total += it.fileInfo().size();
  }
  return total;
}

qint64 GetFreeSpaceMB(const QString& path) {
  if (path.startsWith(QLatin1String("//")) || path.startsWith(QLatin1String("\\\\"))) return 101;
  // The nearest existing folder decides the file system, as the path itself may not exist yet.
  QFileInfo info(path);
  while (!info.exists() && info.absolutePath() != info.absoluteFilePath()) {
    info = QFileInfo(info.absolutePath());
  }
  const QStorageInfo storage(info.absoluteFilePath());
  if (!storage.isValid()) return 0;
  const qint64 bytes = storage.bytesAvailable();
  if (bytes < 0) return 0;
  return static_cast<qint64>(std::llround(static_cast<double>(bytes) / 1048576.0));
}

bool HasEnoughSpace(const QString& path, double bytes) {
  return static_cast<double>(GetFreeSpaceMB(path)) >= bytes / 1048576.0;
}

QString FreshTempName() {
  const quint32 value = QRandomGenerator::global()->bounded(0x100000u);
  return QStringLiteral("rad") +
         QString::number(value, 16).toUpper().rightJustified(5, QLatin1Char('0')) +
         QStringLiteral(".tmp");
}

QString UniqueTempPath(const QString& folder, const QString& extension, const QString& prefix) {
  if (!QFileInfo(folder).isDir()) return {};
  QString path;
  do {
    path = JoinPath(folder, prefix + FreshTempName() + QLatin1Char('.') + extension);
  } while (QFileInfo::exists(path));
  return path;
}

QString StripControlChars(const QString& text) {
  QString out = text;
  out.remove(QChar(9));
  out.remove(QChar(11));
  return out;
}

QString SecondsToClock(qint64 seconds) {
  const qint64 hours = seconds / 3600;
  const qint64 minutes = (seconds % 3600) / 60;
  const qint64 secs = seconds % 60;
  return QStringLiteral("%1:%2:%3")
      .arg(hours)
      .arg(minutes, 2, 10, QLatin1Char('0'))
      .arg(secs, 2, 10, QLatin1Char('0'));
}

qint64 NearestEven(double x) {
  // Halfway between two even numbers lies an odd one: 3 goes to 4, -3 to -2.
  return static_cast<qint64>(std::floor(x / 2.0 + 0.5)) * 2;
}

qint64 RoundHalfEven(double x) { return static_cast<qint64>(std::nearbyint(x)); }
