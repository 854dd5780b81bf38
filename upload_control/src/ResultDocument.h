#pragma once

#include <QString>

namespace kqmavo2 {

// The one-line documents the control leaves in Response when a request fails on this side.
// Callers find the code by the element name errInfo; a present errInfo always means failure.
class ResultDocument {
 public:
  // Codes of the control's own failures.
  static constexpr int kNotSent = 0;       // the request could not be started or ended
  static constexpr int kNotOpened = 1001;  // session, connection, request or header failed
  static constexpr int kFileUnreadable = 1002;
  static constexpr int kUploadBroken = 1003;  // block data, request end or empty answer
  static constexpr int kCancelled = 1004;
  // The server did not finish answering within the request's deadline (RequestDeadlines).
  static constexpr int kOverdue = 1005;
  static constexpr int kTooManyFields = 666;

  // <?xml version="1.0" encoding="UTF-8" ?><ROOT ver="2.0"><errInfo>CODE</errInfo></ROOT>
  static QString Build(const QString& root, int code);
  // The same without the ver attribute (the block upload's "PutFile" documents).
  static QString BuildUnversioned(const QString& root, int code);
};

}  // namespace kqmavo2
