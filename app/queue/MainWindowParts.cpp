#include "app/queue/MainWindowParts.h"

#include "app/queue/MainWindowComforts.h"
#include "app/queue/MainWindowDrop.h"
#include "app/queue/MainWindowKeys.h"

void InstallMainWindowParts(frmUpload& window) {
  // Owned by the window, so they go with it.
  new MainWindowKeys(window);
  new MainWindowDrop(window);
  new MainWindowComforts(window);
}
