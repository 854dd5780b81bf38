#pragma once

#include <QByteArray>

#include <string>

#include "tests/support/KqServerProcess.h"

// Sends files to kqserver the way the uploader does: 512 KiB blocks, one session identifier,
// each block after the first at the address the previous answer gave.
class BlockUploader {
 public:
  static constexpr qint64 kBlockSize = 524288;

  BlockUploader(const KqServerProcess& server, QByteArray account = "demo",
                QByteArray password = "demo", qint64 folderId = 2, qint64 contentId = -1);

  // One block request to /mavo/putFile + url + "/".
  KqServerProcess::Reply Send(qint64 seqno, bool final, const QByteArray& data,
                              const QByteArray& url, qint64 blockSizeField = -1) const;
  // The whole file, block after block; the answer of the final block, or of the first block
  // whose answer carries no address.
  KqServerProcess::Reply UploadAll(const QByteArray& file) const;
  KqServerProcess::Reply Cancel() const;

  const QByteArray& SessionId() const { return sessionId_; }
  void NewSession();

  static QByteArray BlockOf(const QByteArray& file, qint64 seqno);
  static qint64 BlockCount(const QByteArray& file);
  // A real archive made by zip -0 from random files, about this many bytes long.
  static QByteArray MakeZip(qint64 approximateBytes);
  // A value below the answer's root by dotted path; empty when absent.
  static std::string Value(const QByteArray& xml, const std::string& dottedPath);

 private:
  const KqServerProcess& server_;
  QByteArray account_;
  QByteArray password_;
  qint64 folderId_;
  qint64 contentId_;
  QByteArray sessionId_;
};
