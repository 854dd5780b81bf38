#include "app/services/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex folderMutex;
QString folderOverride;
}  // namespace

QString ProgramFolder() {
  {
    QMutexLocker lock(&folderMutex);
    if (!folderOverride.isEmpty()) return folderOverride;
  }
  return QCoreApplication::applicationDirPath();
}

void SetProgramFolder(const QString& folder) {
  QMutexLocker lock(&folderMutex);
  folderOverride = folder.isEmpty() ? QString() : QDir(folder).absolutePath();
}

QString JoinPath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return name;
  if (folder.endsWith(QLatin1Char('/'))) return folder + name;
  return folder + QLatin1Char('/') + name;
}
