#include "upload_control/src/UploadWorker.h"

#include "upload_control/src/DebugLog.h"
#include "upload_control/src/ExtraFields.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/MultipartBody.h"
#include "upload_control/src/ResultDocument.h"

#include <QDateTime>
#include <QFile>

#include <memory>
#include <random>
#include <thread>

namespace kqmavo2 {
namespace {

const QString kVersionedRoot = QStringLiteral("putFile");
const QString kPlainRoot = QStringLiteral("PutFile");
constexpr char kFileField[] = "mavofile";
constexpr char kFileName[] = "mavofile.zip";

}  // namespace

UploadWorker::UploadWorker(const ControlRequestState& request, std::atomic<std::int32_t>& progress,
                           std::atomic<std::int32_t>& cancel)
    : request_(request), progress_(progress), cancel_(cancel) {}

QByteArray UploadWorker::MakeSessionId() {
  const qint64 seconds = QDateTime::currentSecsSinceEpoch();
  std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
      static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch()) ^
      std::hash<std::thread::id>{}(std::this_thread::get_id())));
  std::uniform_int_distribution<int> draw(0, 32767);
  const int first = draw(random);
  const int second = draw(random);
  return QByteArray::number(seconds) + QByteArray::number(second % 10000).rightJustified(4, '0') +
         QByteArray::number(first).rightJustified(5, '0');
}

bool UploadWorker::FindUrlValue(const QString& answer, QString* value) {
  value->clear();
  const QString examined = answer.left(kAnswerScanUnits);
  const qsizetype open = examined.indexOf(QStringLiteral("<u"));
  if (open < 0) return false;
  const qsizetype start = open + 5;
  const qsizetype end = examined.indexOf(QStringLiteral("</"), start);
  if (start > examined.size() || end < 0) return false;
  const QString found = examined.mid(start, end - start);
  if (!IsSafeUrlValue(found)) return false;
  *value = found;
  return true;
}

bool UploadWorker::IsSafeUrlValue(const QString& value) {
  if (value.size() > kMaxUrlValueUnits) return false;
  // The value is pasted into the request path: nothing in it may leave the upload's folder,
  // name another host or end the path early.
  if (value.contains(QStringLiteral(".."))) return false;
  for (const QChar unit : value) {
    const char16_t code = unit.unicode();
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) return false;
    if (QStringView(u"/\\@%?#").contains(unit)) return false;
  }
  return true;
}

void UploadWorker::RaiseProgress(std::uint64_t bytesDone) {
  if (fileSize_ == 0) return;
  const auto percent = static_cast<std::int32_t>(bytesDone * 100 / fileSize_);
  if (percent > progress_.load()) {
    progress_ = percent;
    DebugLog("file upload %i\n", percent);
  }
}

QString UploadWorker::Run() {
  QFile file(request_.filePath);
  if (request_.filePath.isEmpty() || !file.open(QIODevice::ReadOnly)) {
    return ResultDocument::Build(kVersionedRoot, ResultDocument::kFileUnreadable);
  }
  const FieldPairs extra = ExtraFields::Parse(request_.extraFields);
  if (extra.size() > ExtraFields::kMaxUploadPairs) {
    return ResultDocument::Build(kVersionedRoot, ResultDocument::kTooManyFields);
  }
  fileSize_ = static_cast<std::uint64_t>(file.size());
  if (start_.sessionId.isEmpty()) {
    sessionId_ = MakeSessionId();
    urlValue_.clear();
    blockNumber_ = 0;
  } else {
    // A later block of a session always leaves at least one byte for the final block.
    const std::uint64_t offset = static_cast<std::uint64_t>(start_.seqno) * kBlockSize;
    if (start_.seqno < 0 || (start_.seqno > 0 && offset >= fileSize_) || !file.seek(offset)) {
      return ResultDocument::Build(kVersionedRoot, ResultDocument::kFileUnreadable);
    }
    sessionId_ = start_.sessionId;
    urlValue_ = start_.urlValue;
    blockNumber_ = start_.seqno;
  }
  bytesSent_ = static_cast<std::uint64_t>(blockNumber_) * kBlockSize;
  const auto buffer = std::make_unique<char[]>(kBlockSize);
  std::uint32_t blockBytes = kBlockSize;
  HttpTransport& transport = HttpTransport::Instance();
  // The blocks of one upload share a connection when the server agrees; it is closed however
  // the upload ends.
  struct ReuseScope {
    HttpTransport& transport;
    ~ReuseScope() { transport.ReuseConnections(false); }
  } reuseScope{transport};
  transport.ReuseConnections(request_.deadlines.reuseConnections);

  do {
    bool finalBlock = false;
    if (fileSize_ - bytesSent_ <= blockBytes) {
      blockBytes = static_cast<std::uint32_t>(fileSize_ - bytesSent_);
      finalBlock = true;
    }
    if (blockBytes > 0 && file.read(buffer.get(), blockBytes) != static_cast<qint64>(blockBytes)) {
      DebugLog("New Error: ReadFile Error!");
      // The file opened but cannot be read: this upload's own failure, never an older result.
      result_ = ResultDocument::Build(kVersionedRoot, ResultDocument::kFileUnreadable);
      break;
    }
    bool accepted = false;
    for (int attempt = 0; attempt < kAttempts && cancel_.load() == 0; ++attempt) {
      Attempt outcome = SendBlock(buffer.get(), blockBytes, finalBlock);
      // A kept connection the server closed while idle is no fault of this block: once, and
      // without counting, the block goes again on a fresh connection.
      if (outcome == Attempt::kFailed && transport.LostReusedConnection() && cancel_.load() == 0)
        outcome = SendBlock(buffer.get(), blockBytes, finalBlock);
      if (outcome == Attempt::kSucceeded) {
        accepted = true;
        ++blockNumber_;
        break;
      }
    }
    // Reported before a cancel is heard: a block the server took stays taken after a pause.
    if (accepted && !finalBlock && blockObserver_)
      blockObserver_(sessionId_, blockNumber_, urlValue_);
    if (cancel_.load() != 0) {
      result_ = ResultDocument::Build(kVersionedRoot, ResultDocument::kCancelled);
      // The connection of the abandoned block is closed; the cancel goes on one of its own.
      transport.ReuseConnections(false);
      // A pause leaves the session to the server, to be taken up again later.
      if (cancel_.load() != kPause) SendCancel();
      break;
    }
    if (!accepted) {
      DebugLog("New Error: Post Request retry time > 3");
      break;
    }
    bytesSent_ += blockBytes;
    DebugLog("file block upload %llu / %llu", static_cast<unsigned long long>(bytesSent_),
             static_cast<unsigned long long>(fileSize_));
  } while (bytesSent_ < fileSize_);
  return result_;
}

UploadWorker::Attempt UploadWorker::SendBlock(const char* data, std::uint32_t blockBytes,
                                              bool finalBlock) {
  HttpTransport& transport = HttpTransport::Instance();
  ServerAddress address = request_.address;
  address.path += urlValue_ + QLatin1Char('/');
  if (transport.OpenMultipartRequest(address, request_.deadlines.blockMs) !=
      HttpTransport::kOpened) {
    result_ = ResultDocument::BuildUnversioned(kPlainRoot, ResultDocument::kNotOpened);
    return Attempt::kFailed;
  }
  MultipartBody body;
  body.AddField("account", request_.account);
  body.AddField("password", request_.password);
  body.AddField("folderID", request_.folderId);
  body.AddField("contentID", request_.contentId);
  body.AddField("sessID", sessionId_);
  body.AddField("seqno", QByteArray::number(blockNumber_));
  body.AddField("sessFinish", finalBlock ? QByteArray("yes") : QByteArray());
  body.AddField("blockSize", QByteArray::number(blockBytes));
  for (const FieldPair& pair : ExtraFields::Parse(request_.extraFields))
    body.AddField(pair.name, pair.value);
  body.AddFileHeader(kFileField, kFileName);
  const std::vector<QByteArray>& parts = body.Parts();
  const QByteArray closing = MultipartBody::ClosingBoundary(true);
  const std::uint64_t total = body.Length() + closing.size() + blockBytes;

  if (!transport.StartRequest(total)) {
    result_ = BrokenAttempt(ResultDocument::kNotSent);
    transport.CloseRequest();
    return Attempt::kFailed;
  }
  std::uint64_t written = 0;
  for (const QByteArray& part : parts)
    written += transport.Write(part.constData(), static_cast<std::size_t>(part.size()));
  for (std::uint32_t offset = 0; offset < blockBytes; offset += HttpTransport::kWritePieceBytes) {
    if (cancel_.load() != 0) {
      // Abandoned half-written: the server never sees the end of this block.
      transport.CloseRequest();
      return Attempt::kFailed;
    }
    const std::size_t piece =
        std::min<std::size_t>(HttpTransport::kWritePieceBytes, blockBytes - offset);
    if (pieceObserver_) pieceObserver_(bytesSent_ + offset, piece);
    const std::size_t sent = transport.Write(data + offset, piece);
    if (sent == 0) {
      result_ = BrokenAttempt(ResultDocument::kUploadBroken);
      transport.CloseRequest();
      return Attempt::kFailed;
    }
    written += sent;
    RaiseProgress(bytesSent_ + offset + piece);
  }
  written += transport.Write(closing.constData(), static_cast<std::size_t>(closing.size()));
  if (!transport.EndRequest()) {
    DebugLog("httpEndRequest failed");
    result_ = BrokenAttempt(ResultDocument::kUploadBroken);
    transport.CloseRequest();
    return Attempt::kFailed;
  }
  DebugLog("buffer size: %llu / %llu", static_cast<unsigned long long>(written),
           static_cast<unsigned long long>(total));
  const std::int64_t answered = transport.QueryResult();
  if (answered < 0) {
    DebugLog("GetContentLength Error");
    result_ = ResultDocument::Build(kVersionedRoot, static_cast<int>(-answered));
    transport.CloseRequest();
    return Attempt::kFailed;
  }
  QString answer;
  const bool read = transport.ReadBody(&answer);
  const QString broken = BrokenAttempt(ResultDocument::kUploadBroken);
  transport.CloseRequest();
  if (!read || answer.isEmpty()) {
    DebugLog("GetResponse Error");
    result_ = broken;
    return Attempt::kFailed;
  }
  result_ = answer;
  if (!finalBlock) {
    QString value;
    if (!FindUrlValue(answer, &value)) {
      DebugLog("url tag is missing");
      return Attempt::kFailed;
    }
    urlValue_ = value;
  }
  return Attempt::kSucceeded;
}

QString UploadWorker::BrokenAttempt(int code) {
  // A server that held the block past its deadline stopped answering; the attempt fails like any
  // other broken one, but the document says why.
  if (HttpTransport::Instance().Overdue()) code = ResultDocument::kOverdue;
  return ResultDocument::BuildUnversioned(kPlainRoot, code);
}

void UploadWorker::SendCancel() {
  HttpTransport& transport = HttpTransport::Instance();
  ServerAddress address = request_.address;
  address.path += QLatin1Char('/');
  if (transport.OpenMultipartRequest(address, request_.deadlines.requestMs) !=
      HttpTransport::kOpened) {
    return;
  }
  MultipartBody body;
  body.AddField("sessID", sessionId_);
  body.AddField("sessFinish", "cancel");
  body.Close();
  if (transport.SendParts(body) && transport.QueryResult() > 0) {
    QString answer;
    if (transport.ReadBody(&answer)) result_ = answer;
  }
  transport.CloseRequest();
}

}  // namespace kqmavo2
