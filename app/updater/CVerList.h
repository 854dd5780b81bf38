#pragma once

#include "app/updater/CVerItem.h"

#include <QList>
#include <QString>

// The versions of the update server's list that are newer than this program, newest first,
// keyed by their version number and counted from 1.
class CVerList {
 public:
  // Adds an item; false without adding when an item of the same version (blanks trimmed) is
  // listed already, or when `fullPatch` is neither "True"/"False" nor a number.
  bool Add(const QString& ver, const QString& folderUrl, const QString& fullPatch,
           const QString& log, const QString& sha256 = {});

  int Count() const { return static_cast<int>(items_.size()); }
  // 1-based, as the list is counted everywhere else.
  const CVerItem& Item(int index) const { return items_.at(index - 1); }
  void Clear() { items_.clear(); }

 private:
  QList<CVerItem> items_;
};
