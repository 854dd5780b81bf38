#pragma once

#include <QString>
#include <QStringList>

// Downloaded archives come over plain HTTP and are unpacked onto the program folder: before an
// archive is unpacked every entry's name and kind are checked, and after it nothing but plain
// files and folders may have come out.
class ArchiveGuard {
 public:
  // Lists the archive with unzip; false with `error` set when it cannot be listed, an entry
  // would land outside the folder it is unpacked into, or an entry is a link (a later entry or
  // archive could write through it) or anything else but a file or folder.
  static bool CheckEntries(const QString& zipPath, QString* error);
  // Relative, no "..", no drive or root, either slash counted as a separator.
  static bool IsSafeEntryName(const QString& name);
  // False when the folder holds a link, device or pipe anywhere below it: a link can point out
  // of the folder, and copying through it would write elsewhere.
  static bool HoldsOnlyPlainFiles(const QString& folder, QString* error);
  // Empties `path` by deleting it and creating it again, private to this user. What stands there
  // is only deleted when it is a real folder owned by this user: a link, a file or another
  // user's folder is refused with `error` set, and nothing is deleted or written.
  static bool MakeFreshFolder(const QString& path, QString* error);
  // A real folder (not a link) owned by this user.
  static bool IsOwnFolder(const QString& path, QString* error);
  // The unzip program, or empty when it is not installed.
  static QString UnzipProgram();

  // A listing of more entries than this is not an update.
  static constexpr int kMaxEntries = 100000;
};
