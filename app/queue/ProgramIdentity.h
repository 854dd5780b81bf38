#pragma once

#include <QString>

// The program's version, the main window's full title and the name of its running copy, for
// every front end.
class ProgramIdentity {
 public:
  // The version as the caption and the server are told it.
  static QString Version();
  // "caption - v.version".
  static QString WindowTitle();
  // The name the running window holds and other copies look for: one per program folder (whose
  // queue file the window owns), whatever language either side shows.
  static QString InstanceName();
};
