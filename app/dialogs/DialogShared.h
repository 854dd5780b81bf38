#pragma once

#include "app/dialogs/CFolderTree.h"
#include "app/dialogs/FolderReply.h"

#include <QString>
#include <QStringList>

// The job being edited, set by the main window before it opens the add dialog for Edit.
struct EditRequest {
  bool editing = false;
  QString path;  // the job's key
  int row = 0;   // its grid row

  void clear() { *this = EditRequest(); }
};

// What the add dialogs share with each other and with the main window for the whole run.
class DialogShared {
 public:
  enum Busy : int { kIdle = 0, kProbing = 1, kFetchingFolders = 2 };

  static DialogShared& Instance();

  EditRequest editRequest;
  // Files or folders dropped on the main window, for the add dialog it opens to take at start.
  QStringList droppedPaths;
  int DialogBusy = kIdle;
  // A folder list was fetched earlier in this run; getfolder.xml may be shown without a login.
  bool FolderListKnown = false;
  ServerCaps serverCaps;
  // Send the password as a digest; cleared for a server that asked for the plain password.
  bool EncryptPassword = true;
  CFolderTree folderTree;

  // Back to the state of a fresh program run (tests open many dialogs in one process).
  void Reset();
};
