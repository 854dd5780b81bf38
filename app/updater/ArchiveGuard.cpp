#include "app/updater/ArchiveGuard.h"

#include "app/services/modGlobal.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kListTimeoutMs = 60000;
// The short listing's lines before the first entry: the archive's name and its sizes.
constexpr int kListingHeaderLines = 2;

// Runs unzip's listing mode from the archive's own folder, so the archive's path (which may hold
// any character) never shows up in the output that is parsed.
bool ListArchive(const QString& unzip, const QString& option, const QString& zipPath,
                 QList<QByteArray>* lines) {
  const QFileInfo zip(zipPath);
  QProcess lister;
  lister.setProgram(unzip);
  lister.setArguments({option, QStringLiteral("./") + zip.fileName()});
  lister.setWorkingDirectory(zip.absolutePath());
  lister.setStandardInputFile(QProcess::nullDevice());
  lister.setStandardErrorFile(QProcess::nullDevice());
  lister.start();
  if (!lister.waitForFinished(kListTimeoutMs) || lister.exitStatus() != QProcess::NormalExit ||
      lister.exitCode() != 0) {
    lister.kill();
    return false;
  }
  *lines = lister.readAllStandardOutput().split('\n');
  while (!lines->isEmpty() && lines->last().isEmpty()) lines->removeLast();
  return true;
}

QString ErrnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

}  // namespace

QString ArchiveGuard::UnzipProgram() {
  return QStandardPaths::findExecutable(QStringLiteral("unzip"));
}

bool ArchiveGuard::IsSafeEntryName(const QString& name) {
  if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\'))) {
    return false;
  }
  // "C:..." would be a drive on the system the archive may have been made on.
  if (name.size() >= 2 && name.at(1) == QLatin1Char(':')) return false;
  static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
  for (const QString& part : name.split(separators)) {
    if (part == QLatin1String("..")) return false;
  }
  for (const QChar c : name) {
    if (c.category() == QChar::Other_Control) return false;
  }
  return true;
}

bool ArchiveGuard::CheckEntries(const QString& zipPath, QString* error) {
  const QString unzip = UnzipProgram();
  if (unzip.isEmpty()) {
    *error = QStringLiteral("The unzip program is not installed.");
    return false;
  }
  const QString archive = QFileInfo(zipPath).fileName();
  QList<QByteArray> names;
  QList<QByteArray> details;
  if (!QFileInfo(zipPath).isFile() || !ListArchive(unzip, QStringLiteral("-Z1"), zipPath, &names) ||
      !ListArchive(unzip, QStringLiteral("-Zs"), zipPath, &details)) {
    *error = QStringLiteral("%1 is not a readable zip archive.").arg(archive);
    return false;
  }
  if (names.size() > kMaxEntries) {
    *error = QStringLiteral("%1 holds too many entries.").arg(archive);
    return false;
  }
  if (names.isEmpty()) {
    *error = QStringLiteral("%1 is empty.").arg(archive);
    return false;
  }
  // The short listing gives each entry's kind in the first letter of its mode, in the same order
  // as the names; a listing that does not line up is refused rather than guessed at.
  static const QRegularExpression entryLine(
      QStringLiteral("^(\\S+)\\s+\\d+\\.\\d+\\s+\\S+\\s+\\d+\\s"));
  if (details.size() < kListingHeaderLines + names.size()) {
    *error = QStringLiteral("%1 cannot be listed.").arg(archive);
    return false;
  }
  for (int i = 0; i < names.size(); ++i) {
    const QString name = QString::fromUtf8(names.at(i));
    if (!IsSafeEntryName(name)) {
      *error = QStringLiteral("%1 holds an entry outside its folder: %2").arg(archive, name);
      return false;
    }
    const QRegularExpressionMatch match =
        entryLine.match(QString::fromUtf8(details.at(kListingHeaderLines + i)));
    if (!match.hasMatch()) {
      *error = QStringLiteral("%1 cannot be listed.").arg(archive);
      return false;
    }
    // "-" a file, "d" a folder, "?" a file whose mode names no kind; "l" a link.
    const QChar kind = match.captured(1).at(0);
    if (kind == QLatin1Char('l')) {
      *error = QStringLiteral("%1 holds a link: %2").arg(archive, name);
      return false;
    }
    if (kind != QLatin1Char('-') && kind != QLatin1Char('d') && kind != QLatin1Char('?')) {
      *error = QStringLiteral("%1 holds something other than a file: %2").arg(archive, name);
      return false;
    }
  }
  return true;
}

bool ArchiveGuard::IsOwnFolder(const QString& path, QString* error) {
  struct stat info {};
  if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
    *error = QStringLiteral("%1: %2").arg(path, ErrnoText());
    return false;
  }
  if (S_ISLNK(info.st_mode)) {
    *error = QStringLiteral("%1 is a link, not a folder of ours.").arg(path);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    *error = QStringLiteral("%1 is not a folder.").arg(path);
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    *error = QStringLiteral("%1 belongs to another user.").arg(path);
    return false;
  }
  return true;
}

bool ArchiveGuard::MakeFreshFolder(const QString& path, QString* error) {
  const QByteArray native = QFile::encodeName(path);
  struct stat info {};
  if (::lstat(native.constData(), &info) == 0) {
    if (!IsOwnFolder(path, error)) return false;
    // Our own real folder: deleting it removes links inside it, never what they point at.
    if (!DeleteFolder(path)) {
      *error = QStringLiteral("%1 cannot be deleted.").arg(path);
      return false;
    }
  } else if (errno != ENOENT) {
    *error = QStringLiteral("%1: %2").arg(path, ErrnoText());
    return false;
  }
  // mkdir fails when anything was put there meanwhile, so the folder is the one made here.
  if (::mkdir(native.constData(), S_IRWXU) != 0) {
    *error = QStringLiteral("%1 cannot be created: %2").arg(path, ErrnoText());
    return false;
  }
  return true;
}

bool ArchiveGuard::HoldsOnlyPlainFiles(const QString& folder, QString* error) {
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info(it.next());
    if (info.isSymLink() || (!info.isFile() && !info.isDir())) {
      *error =
          QStringLiteral("The update holds something other than a file: %1").arg(info.filePath());
      return false;
    }
  }
  return true;
}
