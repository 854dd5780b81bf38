#include "tests/tools/kqserver/WireRequest.h"

QByteArray WireRequest::FormFieldPart(const QByteArray& name, const QByteArray& value) {
  return QByteArray("--") + kBoundary + "\r\nContent-Disposition: form-data;name=\"" + name +
         "\"\r\n\r\n" + value + "\r\n";
}

QByteArray WireRequest::FilePartHeader(const QByteArray& name, const QByteArray& fileName) {
  return QByteArray("--") + kBoundary + "\r\nContent-Disposition: multipart/form-data;name=\"" +
         name + "\"; filename=\"" + fileName + "\"\r\nContent-Transfer-encoding: Binary\r\n\r\n";
}

QByteArray WireRequest::ClosingBoundary(bool afterFile) {
  return QByteArray(afterFile ? "\r\n--" : "--") + kBoundary + "--";
}

QByteArray WireRequest::FormBody(const Fields& fields) {
  QByteArray body;
  for (const auto& [name, value] : fields) body += FormFieldPart(name, value);
  return body + ClosingBoundary(false);
}

QByteArray WireRequest::BlockBody(const QByteArray& account, const QByteArray& password,
                                  qint64 folderId, qint64 contentId, const QByteArray& sessionId,
                                  qint64 seqno, bool final, const QByteArray& data,
                                  qint64 blockSizeField) {
  const qint64 blockSize = blockSizeField >= 0 ? blockSizeField : data.size();
  return FormFieldPart("account", account) + FormFieldPart("password", password) +
         FormFieldPart("folderID", QByteArray::number(folderId)) +
         FormFieldPart("contentID", QByteArray::number(contentId)) +
         FormFieldPart("sessID", sessionId) + FormFieldPart("seqno", QByteArray::number(seqno)) +
         FormFieldPart("sessFinish", final ? "yes" : "") +
         FormFieldPart("blockSize", QByteArray::number(blockSize)) +
         FormFieldPart("tool", "v.2.100603") + FilePartHeader("mavofile", "mavofile.zip") + data +
         ClosingBoundary(true);
}

QByteArray WireRequest::CancelBody(const QByteArray& sessionId) {
  return FormFieldPart("sessID", sessionId) + FormFieldPart("sessFinish", "cancel") +
         ClosingBoundary(false);
}
