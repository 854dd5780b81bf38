#pragma once

#include "upload_control/src/FieldPair.h"
#include "upload_control/src/RequestDeadlines.h"
#include "upload_control/src/ServerAddress.h"
#include "upload_control/src/SharingFields.h"

#include <QByteArray>
#include <QString>

namespace kqmavo2 {

// The request fields one control instance keeps between a method call and its worker. Every
// field has the size of the buffer it was designed with (the terminator included), and text
// longer than that is cut, never spilled: narrow text is cut at a whole character so no broken
// multibyte sequence reaches the server.
class ControlRequestState {
 public:
  static constexpr int kFilePathUnits = 256;
  static constexpr int kAccountBytes = 255;
  static constexpr int kPasswordBytes = 255;
  static constexpr int kIdBytes = 10;
  static constexpr int kVersionBytes = 20;
  static constexpr int kExtraFieldsBytes = 1024;

  ServerAddress address;
  QString filePath;
  QByteArray account;
  QByteArray password;
  QByteArray folderId;
  QByteArray contentId;
  QByteArray version;
  QByteArray extraFields;
  FieldPairs postFields;
  SharingFields sharing;
  // Read from the settings when the request starts.
  RequestDeadlines deadlines;

  void SetUrl(const QString& url, bool dropTrailingSlash = false);
  void SetAccount(const QString& text) { account = ToAnsiBounded(text, kAccountBytes); }
  void SetPassword(const QString& text) { password = ToAnsiBounded(text, kPasswordBytes); }
  void SetFolderId(int id) { folderId = DecimalBounded(id); }
  void SetContentId(int id) { contentId = DecimalBounded(id); }
  void SetVersion(const QString& text) { version = ToAnsiBounded(text, kVersionBytes); }
  void SetExtraFields(const QString& text) { extraFields = ToAnsiBounded(text, kExtraFieldsBytes); }
  void SetFilePath(const QString& text) { filePath = text.left(kFilePathUnits - 1); }
  void SetPostParam(const QString& text);

  // `text` in the system code page, cut to fit a buffer of `bufferBytes` with its terminator.
  static QByteArray ToAnsiBounded(const QString& text, int bufferBytes);

 private:
  static QByteArray DecimalBounded(int value);
};

}  // namespace kqmavo2
