#include "app/updater/ProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr const char* kDeletedSuffix = " (deleted)";

QString ExecutableOf(const QString& pid) {
  QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
  // A program whose file was replaced while it runs still counts as that program.
  if (target.endsWith(QLatin1String(kDeletedSuffix))) {
    target.chop(static_cast<int>(qstrlen(kDeletedSuffix)));
  }
  return target;
}

template <typename Match>
bool AnyOtherProcess(Match match) {
  const QString self = QString::number(QCoreApplication::applicationPid());
  const QStringList entries =
      QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& entry : entries) {
    bool numeric = false;
    entry.toLongLong(&numeric);
    if (!numeric || entry == self) continue;
    if (match(entry)) return true;
  }
  return false;
}

}  // namespace

QString ProcessList::ComparableName(const QString& name) {
  QString comparable = name.toLower();
  if (comparable.endsWith(QLatin1String(".exe"))) comparable.chop(4);
  return comparable;
}

QString ProcessList::NameOf(qint64 pid) {
  const QString id = QString::number(pid);
  const QString executable = ExecutableOf(id);
  if (!executable.isEmpty()) return QFileInfo(executable).fileName();
  // Another user's process hides its executable; its command line is still readable.
  QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(id));
  if (!cmdline.open(QIODevice::ReadOnly)) return {};
  const QByteArray first = cmdline.read(4096).split('\0').value(0);
  return QFileInfo(QString::fromLocal8Bit(first)).fileName();
}

bool ProcessList::IsRunning(const QString& programName) {
  const QString wanted = ComparableName(programName);
  return AnyOtherProcess(
      [&](const QString& pid) { return ComparableName(NameOf(pid.toLongLong())) == wanted; });
}

bool ProcessList::IsRunningFrom(const QString& executablePath) {
  const QFileInfo file(executablePath);
  // /proc names the executable by its real path, links resolved.
  const QString wanted =
      file.canonicalFilePath().isEmpty() ? file.absoluteFilePath() : file.canonicalFilePath();
  return AnyOtherProcess([&](const QString& pid) { return ExecutableOf(pid) == wanted; });
}
