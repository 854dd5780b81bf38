#include "app/services/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStandardPaths>
#include <QtDebug>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
QMutex folderMutex;
QString folderOverride;
QString resolvedFolder;  // the executable's folder or the user's stand-in, decided once a run

// Files the program writes into its folder; an installed copy of one (say, left by a run as root)
// must not be linked, or the user's writes would go through the link into the installation.
bool IsWrittenFile(const QString& name) {
  return name == QLatin1String("project.xml") || name == QLatin1String("getfolder.xml") ||
         name == QLatin1String("log.txt");
}

QByteArray LinkTarget(const QByteArray& path) {
  QByteArray target(4096, '\0');
  const ssize_t size = ::readlink(path.constData(), target.data(), target.size());
  if (size < 0 || size >= target.size()) return {};
  target.truncate(size);
  return target;
}

// Puts a link at path, replacing a link or file already there in one step, so a second copy of
// the program refreshing the same folder never sees the name missing.
bool PlaceLink(const QByteArray& target, const QByteArray& path) {
  const QByteArray temporary = path + ".link-" + QByteArray::number(::getpid());
  ::unlink(temporary.constData());
  if (::symlink(target.constData(), temporary.constData()) != 0) return false;
  if (::rename(temporary.constData(), path.constData()) != 0) {
    ::unlink(temporary.constData());
    return false;
  }
  return true;
}

QString ResolveFolder() {
  const QString own = QCoreApplication::applicationDirPath();
  if (own.isEmpty() || FolderIsWritable(own)) return own;
  const QString user = UserProgramFolder();
  if (user.isEmpty() || !LinkProgramFolder(own, user)) {
    qWarning("clipFerry: cannot prepare %s; files are read from and written to %s",
             qPrintable(user), qPrintable(own));
    return own;
  }
  return user;
}
}  // namespace

QString ProgramFolder() {
  QMutexLocker lock(&folderMutex);
  if (!folderOverride.isEmpty()) return folderOverride;
  if (resolvedFolder.isEmpty()) resolvedFolder = ResolveFolder();
  return resolvedFolder;
}

void SetProgramFolder(const QString& folder) {
  QMutexLocker lock(&folderMutex);
  folderOverride = folder.isEmpty() ? QString() : QDir(folder).absolutePath();
}

bool FolderIsWritable(const QString& folder) {
  // AT_EACCESS: the rights of the effective user, the one that will create the files.
  return ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

QString UserProgramFolder() {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (data.isEmpty()) return {};
  return JoinPath(JoinPath(data, QStringLiteral("clipferry")), QStringLiteral("program"));
}

bool LinkProgramFolder(const QString& installFolder, const QString& userFolder) {
  const QString install = QFileInfo(installFolder).canonicalFilePath();
  if (install.isEmpty() || !QDir().mkpath(userFolder)) return false;
  const QString user = QFileInfo(userFolder).canonicalFilePath();
  if (user.isEmpty() || user == install) return false;

  const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
  const QStringList installed = QDir(install).entryList(all);
  QSet<QString> linked;
  bool complete = true;
  for (const QString& name : installed) {
    if (IsWrittenFile(name)) continue;
    linked.insert(name);
    const QByteArray target = QFile::encodeName(JoinPath(install, name));
    const QByteArray path = QFile::encodeName(JoinPath(user, name));
    struct stat status;
    if (::lstat(path.constData(), &status) == 0) {
      if (S_ISLNK(status.st_mode) && LinkTarget(path) == target) continue;
      // A folder of the user's that happens to share a name is theirs: it is never replaced.
      if (S_ISDIR(status.st_mode)) continue;
      // Anything else under an installed name is a stale copy of a program file (an update
      // applied into this folder, say): the installed file wins.
    } else if (errno != ENOENT) {
      complete = false;
      continue;
    }
    if (!PlaceLink(target, path)) complete = false;
  }

  // Drop links into the installation whose entries an upgrade removed. Only dangling ones: a
  // live link under another name may be a second copy's link about to be renamed into place.
  const QByteArray prefix = QFile::encodeName(install) + '/';
  for (const QString& name : QDir(user).entryList(all)) {
    if (linked.contains(name)) continue;
    const QByteArray path = QFile::encodeName(JoinPath(user, name));
    struct stat status;
    if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode)) continue;
    if (::access(path.constData(), F_OK) == 0) continue;
    if (LinkTarget(path).startsWith(prefix)) ::unlink(path.constData());
  }
  return complete;
}

QString JoinPath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return name;
  if (folder.endsWith(QLatin1Char('/'))) return folder + name;
  return folder + QLatin1Char('/') + name;
}
