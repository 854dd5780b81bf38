#include "app/updater/ArchiveGuard.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

constexpr int kListTimeoutMs = 60000;

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
  QProcess lister;
  lister.setProgram(unzip);
  lister.setArguments({QStringLiteral("-Z1"), zipPath});
  lister.setStandardInputFile(QProcess::nullDevice());
  lister.setStandardErrorFile(QProcess::nullDevice());
  lister.start();
  if (!lister.waitForFinished(kListTimeoutMs) || lister.exitStatus() != QProcess::NormalExit ||
      lister.exitCode() != 0) {
    lister.kill();
    *error = QStringLiteral("%1 is not a readable zip archive.").arg(QFileInfo(zipPath).fileName());
    return false;
  }
  const QList<QByteArray> lines = lister.readAllStandardOutput().split('\n');
  if (lines.size() > kMaxEntries) {
    *error = QStringLiteral("%1 holds too many entries.").arg(QFileInfo(zipPath).fileName());
    return false;
  }
  int entries = 0;
  for (const QByteArray& line : lines) {
    if (line.isEmpty()) continue;
    ++entries;
    const QString name = QString::fromUtf8(line);
    if (!IsSafeEntryName(name)) {
      *error = QStringLiteral("%1 holds an entry outside its folder: %2")
                   .arg(QFileInfo(zipPath).fileName(), name);
      return false;
    }
  }
  if (entries == 0) {
    *error = QStringLiteral("%1 is empty.").arg(QFileInfo(zipPath).fileName());
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
