#pragma once

#include "upload_control/src/ControlRequestState.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

namespace kqmavo2 {

// Sends one local file to the server in blocks of 512 KiB, each block in its own multipart
// request carrying a session identifier made up here; every block after the first goes to the
// address extended by the value the server returned for the block before. The caller holds the
// transport's gate for the whole upload.
class UploadWorker {
 public:
  static constexpr std::uint32_t kBlockSize = 524288;
  static constexpr int kAttempts = 3;
  // The cancel flag: 1 ends the upload with the cancel request, kPause without it.
  static constexpr std::int32_t kPause = 2;
  // Only this much of a block answer is searched for its url element.
  static constexpr int kAnswerScanUnits = 2047;

  UploadWorker(const ControlRequestState& request, std::atomic<std::int32_t>& progress,
               std::atomic<std::int32_t>& cancel);

  // Told of each piece of file data just before it goes to the transport, after the cancel flag
  // was found clear: the file offset of the piece and its length.
  using PieceObserver = std::function<void(std::uint64_t offset, std::size_t bytes)>;
  void SetPieceObserver(PieceObserver observer) { pieceObserver_ = std::move(observer); }

  // Where an upload begins: a new session at block 0 (no identifier), or block `seqno` of an
  // existing session, sent to the address extended by `urlValue`.
  struct StartPoint {
    QByteArray sessionId;
    int seqno = 0;
    QString urlValue;
  };
  void SetStartPoint(StartPoint start) { start_ = std::move(start); }

  // Told after each acknowledged block but the last: the session, the next block's number and
  // the value addressing it.
  using BlockObserver =
      std::function<void(const QByteArray& sessionId, int nextSeqno, const QString& urlValue)>;
  void SetBlockObserver(BlockObserver observer) { blockObserver_ = std::move(observer); }

  // Runs the whole upload and returns the result document.
  QString Run();

  // The server's value names the next block's address and is at most this long.
  static constexpr int kMaxUrlValueUnits = 3;

  // The value of the first "<u..." element of a block answer: it starts 5 characters after the
  // "<" and runs to the next "</". False when there is none, or when the value is not one that
  // may extend the request path (IsSafeUrlValue): such an answer counts as one without url.
  static bool FindUrlValue(const QString& answer, QString* value);
  // At most 3 characters, none of them a control character, "/", a backslash, "@", "%", "?"
  // or "#", and no "..".
  static bool IsSafeUrlValue(const QString& value);
  // Seconds since 1970, then two pseudo-random draws as four and five digits.
  static QByteArray MakeSessionId();

 private:
  enum class Attempt { kSucceeded, kFailed };
  Attempt SendBlock(const char* data, std::uint32_t blockBytes, bool finalBlock);
  void SendCancel();
  // The document of an attempt that broke off: `code`, or kOverdue when the request ran past
  // its deadline. Call before the handles are closed.
  static QString BrokenAttempt(int code);
  void RaiseProgress(std::uint64_t bytesDone);

  const ControlRequestState& request_;
  std::atomic<std::int32_t>& progress_;
  std::atomic<std::int32_t>& cancel_;
  QString result_;
  QByteArray sessionId_;
  QString urlValue_;
  std::uint64_t fileSize_ = 0;
  std::uint64_t bytesSent_ = 0;
  int blockNumber_ = 0;
  PieceObserver pieceObserver_;
  StartPoint start_;
  BlockObserver blockObserver_;
};

}  // namespace kqmavo2
