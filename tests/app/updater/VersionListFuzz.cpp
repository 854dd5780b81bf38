// Feeds arbitrary bytes to the reader of the update server's version list. Whatever it offers is
// newer than the running program, named so that it can be a folder, and listed once.
#include "app/updater/CVerList.h"
#include "app/updater/modUpdate.h"

#include <QSet>
#include <QString>

#include <pugixml.hpp>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pugi::xml_document doc;
  if (!doc.load_buffer(data, size)) return 0;
  const QString own = QStringLiteral("2.100603");
  float ownValue = 0;
  if (!VersionValue(own, &ownValue)) std::abort();
  CVerList list;
  if (!ParseVersionList(doc, own, &list)) return 0;
  QSet<QString> seen;
  for (int index = 1; index <= list.Count(); ++index) {
    const CVerItem& item = list.Item(index);
    float value = 0;
    if (!IsPlainVersion(item.ver) || !VersionValue(item.ver, &value) || value <= ownValue) {
      std::abort();
    }
    if (seen.contains(item.ver.trimmed())) std::abort();
    seen.insert(item.ver.trimmed());
  }
  if (PatchCount(list) > list.Count()) std::abort();
  (void)LogBoxText(list);
  (void)PackageSha256(doc, QStringLiteral("kqUpdater.zip"));
  return 0;
}
