#pragma once

#include <QString>

// The program's version and the main window's full title, for every front end: the window shows
// the title, and any copy of the program looks for it to keep to one running copy.
class ProgramIdentity {
 public:
  // The version as the caption and the server are told it.
  static QString Version();
  // "caption - v.version".
  static QString WindowTitle();
};
