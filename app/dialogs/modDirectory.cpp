#include "app/dialogs/modDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

bool modDirectory::Matches(const QString& fileName, const QString& patterns) {
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  const QString key = QStringLiteral("*.") + fileName.mid(dot + 1) + QLatin1Char(';');
  return patterns.contains(key, Qt::CaseInsensitive);
}

QString modDirectory::AddBackslash(const QString& folder) {
  if (folder.endsWith(QLatin1Char('/'))) return folder;
  return folder + QLatin1Char('/');
}

QString modDirectory::CutAtNul(const QString& text) {
  const qsizetype nul = text.indexOf(QChar(0));
  return nul < 0 ? text : text.left(nul);
}

modDirectory::Result modDirectory::Walk(const QString& startFolder, const QString& patterns,
                                        const std::function<void(const QString&)>& onMatch) {
  stop_ = false;
  overflow_ = false;
  matches_.clear();
  matches_.reserve(kMaxMatches);
  QString list = patterns;
  if (!list.endsWith(QLatin1Char(';'))) list += QLatin1Char(';');
  if (!QFileInfo(startFolder).isDir()) return Result::Unreadable;
  WalkFolder(AddBackslash(startFolder), list, onMatch);
  matches_.squeeze();
  if (overflow_) return Result::TooManyMatches;
  return stop_ ? Result::Stopped : Result::Finished;
}

bool modDirectory::AfterEntry() {
  if (pumpEvents_) QCoreApplication::processEvents();
  return !stop_;
}

bool modDirectory::WalkFolder(const QString& folder, const QString& patterns,
                              const std::function<void(const QString&)>& onMatch) {
  // One pass over the folder: the entry types come with the listing, so no file is looked at on
  // its own. Names are sorted so that a walk always reports in the same order.
  QStringList files;
  QStringList folders;
  QDirIterator it(folder,
                  QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  while (it.hasNext()) {
    it.next();
    const QFileInfo entry = it.fileInfo();
    if (entry.isDir()) {
      // Linked folders are not followed: a link back up the tree would never end.
      if (!entry.isSymLink()) folders.append(entry.fileName());
    } else {
      files.append(entry.fileName());
    }
  }
  const auto byName = [](const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  };
  std::sort(files.begin(), files.end(), byName);
  std::sort(folders.begin(), folders.end(), byName);
  for (const QString& name : files) {
    if (Matches(name, patterns)) {
      if (matches_.size() >= kMaxMatches) {
        overflow_ = true;
        return false;
      }
      const QString path = folder + name;
      matches_.append(path);
      if (onMatch) onMatch(path);
    }
    if (!AfterEntry()) return false;
  }
  for (const QString& name : folders) {
    if (!AfterEntry()) return false;
    if (!WalkFolder(folder + name + QLatin1Char('/'), patterns, onMatch)) return false;
  }
  return true;
}
