#include "app/updater/CVerList.h"

#include "app/updater/modUpdate.h"

bool CVerList::Add(const QString& ver, const QString& folderUrl, const QString& fullPatch,
                   const QString& log, const QString& sha256) {
  const QString key = ver.trimmed();
  for (const CVerItem& item : std::as_const(items_)) {
    if (item.ver == key) return false;
  }
  CVerItem item;
  if (!ParseFullPatch(fullPatch, &item.fullPatch)) return false;
  item.ver = key;
  item.folderUrl = folderUrl;
  item.log = log;
  item.sha256 = sha256.trimmed().toLower();
  items_.append(item);
  return true;
}
