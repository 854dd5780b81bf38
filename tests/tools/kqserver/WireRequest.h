#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// Request bodies built byte for byte the way the uploader builds them: no blank after
// "form-data;", the file part's disposition type "multipart/form-data",
// "Content-Transfer-encoding", and nothing after the final "--".
class WireRequest {
 public:
  static constexpr const char* kBoundary = "Qu1llbox5_Xu02=$";
  static constexpr const char* kContentType = "multipart/form-data; boundary=Qu1llbox5_Xu02=$";

  using Fields = QList<QPair<QByteArray, QByteArray>>;

  static QByteArray FormFieldPart(const QByteArray& name, const QByteArray& value);
  static QByteArray FilePartHeader(const QByteArray& name, const QByteArray& fileName);
  static QByteArray ClosingBoundary(bool afterFile);
  // Form fields only, as the folder and version requests send them.
  static QByteArray FormBody(const Fields& fields);
  // One block of an upload: the eight block fields, the extra field, the file part and the data.
  static QByteArray BlockBody(const QByteArray& account, const QByteArray& password,
                              qint64 folderId, qint64 contentId, const QByteArray& sessionId,
                              qint64 seqno, bool final, const QByteArray& data,
                              qint64 blockSizeField = -1);
  static QByteArray CancelBody(const QByteArray& sessionId);
};
