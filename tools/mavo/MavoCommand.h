#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// One request named on mavo's command line, checked before anything is sent.
struct MavoCommand {
  enum class Kind {
    kGetFolder,
    kGetVersion,
    kGetVersion2,
    kPost,
    kPutFile,
    kLogin,
    kCategories,
    kPutYouTube
  };

  Kind kind = Kind::kGetFolder;
  QStringList args;   // positional arguments, in the member's parameter order
  int folderId = 0;   // getversion2, putfile
  int docId = 0;      // getversion2, putfile
  int cancelAt = -1;  // putfile, putyoutube --cancel-at N: cancel once progress reaches N percent

  bool IsUpload() const { return kind == Kind::kPutFile || kind == Kind::kPutYouTube; }

  // Splits the arguments into requests at each lone "+" and checks every one. On failure
  // returns false with a message for the user.
  static bool ParseAll(const QStringList& arguments, std::vector<MavoCommand>* commands,
                       QString* error);
  static QString Usage();

  // A result document that reports a failure: it holds a non-empty errInfo element, as the
  // documents the control builds for a failed request and the server's refusals do.
  static bool ReportsFailure(const QString& document);
};
