#pragma once

#include <QString>
#include <QStringList>

// Downloaded archives come over plain HTTP and are unpacked onto the program folder: before an
// archive is unpacked every entry name is checked, and after it nothing but plain files and
// folders may have come out.
class ArchiveGuard {
 public:
  // Lists the archive with unzip; false with `error` set when it cannot be listed or an entry
  // would land outside the folder it is unpacked into.
  static bool CheckEntries(const QString& zipPath, QString* error);
  // Relative, no "..", no drive or root, either slash counted as a separator.
  static bool IsSafeEntryName(const QString& name);
  // False when the folder holds a link, device or pipe anywhere below it: a link can point out
  // of the folder, and copying through it would write elsewhere.
  static bool HoldsOnlyPlainFiles(const QString& folder, QString* error);
  // The unzip program, or empty when it is not installed.
  static QString UnzipProgram();

  // A listing of more entries than this is not an update.
  static constexpr int kMaxEntries = 100000;
};
