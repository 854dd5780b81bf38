#include "app/dialogs/DialogShared.h"

DialogShared& DialogShared::Instance() {
  static DialogShared shared;
  return shared;
}

void DialogShared::Reset() {
  editRequest.clear();
  droppedPaths.clear();
  DialogBusy = kIdle;
  FolderListKnown = false;
  serverCaps = ServerCaps();
  EncryptPassword = true;
  folderTree.setAdID(CFolderTree::kNoAdFolder);
  folderTree.Clear();
}
