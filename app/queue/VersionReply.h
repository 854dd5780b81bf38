#pragma once

#include "app/queue/Outcome.h"

#include <QString>
#include <pugixml.hpp>

namespace cf {

// The server's answer to a version request: whether the job may go up, and what the server wants
// (video type, the source as well, slide size). Reading it changes nothing; the run decides.
class VersionReply {
 public:
  // Parses `response`. A document that does not parse or carries errInfo is a failure with the
  // row's text; anything else is Done.
  Outcome Accept(const QString& response);

  QString Value(const char* path) const;
  bool Flag(const char* path) const { return Value(path) == QLatin1String("1"); }

  // A failure when the reply's quota leaves no room for `required` megabytes, or is not numeric.
  Outcome CheckQuota(qint64 required) const;
  // The same for a folder about to be sent, its size rounded to whole megabytes.
  Outcome CheckFolderQuota(const QString& folder) const;
  // The overwrite rule: "2" and "3" refuse the target folder; "1" asks; anything else goes on.
  QString overwrite() const { return Value("overwrite"); }
  static Outcome RefuseTarget(const QString& overwrite);

  // The slide size the server asks for, when it is a sensible picture size.
  bool SlideSize(int* width, int* height) const;

  // "GetVersion: " and the server's error for a reply `code` (the localized text when there is
  // one).
  static QString ServerErrorText();
  static QString ResultErrorText(const QString& code, bool prefixVersion);

 private:
  pugi::xml_document doc_;
};

}  // namespace cf
