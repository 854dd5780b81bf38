#pragma once

#include <QString>

// One version the update server offers.
class CVerItem {
 public:
  QString ver;             // the version number, also the name of its folder in the update folder
  QString folderUrl;       // server path of the folder that holds the version's patch.zip
  bool fullPatch = false;  // this patch replaces every earlier one
  QString log;             // change log, lines separated by LF
  QString sha256;          // lower-case hex digest of patch.zip; empty when the list gives none
};
