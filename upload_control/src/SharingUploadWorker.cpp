#include "upload_control/src/SharingUploadWorker.h"

#include "upload_control/src/DebugLog.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/ResultDocument.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <memory>

namespace kqmavo2 {
namespace {

const QString kVersionedRoot = QStringLiteral("putFile");
const QString kPlainRoot = QStringLiteral("PutFile");

// Codes of the upload's own failures.
constexpr int kNoUploadAddress = 2101;
constexpr int kNotOpened = 2102;
constexpr int kMetadataNotSent = 2103;
constexpr int kVideoHeaderNotSent = 2104;
constexpr int kClosingNotSent = 2105;
constexpr int kEmptyAnswer = 2106;

// The answer to an upload can take long (the service checks the video); only its size is bounded.
constexpr std::uint64_t kAnswerCap = 4 * 1024 * 1024;

QByteArray VideoPartHeader() {
  return QByteArray("--") + SharingUploadWorker::kBoundary +
         "\r\nContent-Type: video/wmv\r\nContent-Transfer-Encoding: binary\r\n\r\n";
}

QByteArray ClosingDelimiter() {
  return QByteArray("\r\n--") + SharingUploadWorker::kBoundary + "--";
}

// A broken transfer, or one the service held past the request's deadline.
QString Broken(const HttpTransport& transport) {
  return ResultDocument::BuildUnversioned(
      kPlainRoot, transport.Overdue() ? ResultDocument::kOverdue : ResultDocument::kUploadBroken);
}

bool WriteWhole(HttpTransport& transport, const QByteArray& bytes) {
  return transport.Write(bytes.constData(), static_cast<std::size_t>(bytes.size())) ==
         static_cast<std::size_t>(bytes.size());
}

}  // namespace

SharingUploadWorker::SharingUploadWorker(const ControlRequestState& request,
                                         const SharingSettings& settings,
                                         std::atomic<std::int32_t>& progress,
                                         std::atomic<std::int32_t>& cancel)
    : request_(request), settings_(settings), progress_(progress), cancel_(cancel) {}

QByteArray SharingUploadWorker::EscapeXml(const QByteArray& utf8) {
  const QString text = QString::fromUtf8(utf8);
  QString escaped;
  escaped.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    switch (u) {
      case u'&':
        escaped += QLatin1String("&amp;");
        break;
      case u'<':
        escaped += QLatin1String("&lt;");
        break;
      case u'>':
        escaped += QLatin1String("&gt;");
        break;
      case u'"':
        escaped += QLatin1String("&quot;");
        break;
      case u'\r':
        escaped += QLatin1String("&#13;");
        break;
      default:
        if ((u < 0x20 && u != u'\t' && u != u'\n') || u == 0xFFFE || u == 0xFFFF) break;
        escaped += c;
    }
  }
  return escaped.toUtf8();
}

QByteArray SharingUploadWorker::RequestHeaders(const SharingFields& fields,
                                               const QByteArray& developerKey) {
  return "Authorization: GoogleLogin auth=" + fields.authToken +
         "\r\nX-GData-Key: key=" + developerKey + "\r\nSlug: " + fields.fileName +
         "\r\nContent-Type: multipart/related; boundary=" + kBoundary;
}

QByteArray SharingUploadWorker::MetadataPart(const SharingFields& fields,
                                             const SharingSettings& settings) {
  const auto attribute = [](const QString& value) { return EscapeXml(value.toUtf8()); };
  QByteArray part = QByteArray("--") + kBoundary + "\r\n";
  part += "Content-Type: application/atom+xml; charset=UTF-8\r\n\r\n";
  part += "<?xml version=\"1.0\"?>\r\n";
  part += "<entry xmlns=\"" + attribute(settings.atomNamespace) + "\" xmlns:media=\"" +
          attribute(settings.mediaNamespace) + "\" xmlns:yt=\"" +
          attribute(settings.sharingNamespace) + "\">\r\n";
  part += "<media:group>\r\n";
  part += "<media:title type=\"plain\">" + EscapeXml(fields.title) + "</media:title>\r\n";
  part += "<media:description type=\"plain\">" + EscapeXml(fields.description) +
          "</media:description>\r\n";
  part += "<media:category scheme=\"" + attribute(settings.categoryScheme) + "\">" +
          EscapeXml(fields.category) + "</media:category>\r\n";
  part += "<media:keywords>" + EscapeXml(fields.keywords) + "</media:keywords>\r\n";
  part += "</media:group>\r\n";
  part += "</entry>\r\n\r\n";
  return part;
}

int SharingUploadWorker::Deadline() const {
  // The whole video goes in one request, so it gets a block's deadline for each block's worth.
  const auto size =
      static_cast<std::uint64_t>(std::max<qint64>(0, QFileInfo(request_.filePath).size()));
  const std::uint64_t blocks = std::max<std::uint64_t>(1, (size + kBlockSize - 1) / kBlockSize);
  const std::uint64_t deadline =
      blocks * static_cast<std::uint64_t>(std::max(1, request_.deadlines.blockMs));
  return static_cast<int>(std::min<std::uint64_t>(deadline, INT_MAX));
}

SharingUploadWorker::Outcome SharingUploadWorker::Run() {
  Outcome outcome;
  const SharingFields& fields = request_.sharing;
  const ServerAddress address = ServerAddress::Split(QString::fromUtf8(fields.uploadAddress));
  if (fields.uploadAddress.isEmpty() || address.host.isEmpty() || !address.portValid ||
      address.path.isEmpty()) {
    outcome.response = ResultDocument::Build(kVersionedRoot, kNoUploadAddress);
    return outcome;
  }
  HttpTransport& transport = HttpTransport::Instance();
  struct CloseOnExit {
    HttpTransport& transport;
    ~CloseOnExit() { transport.CloseRequest(); }
  } closer{transport};
  if (transport.OpenSharingRequest(address.host, address.port, "POST", address.path.toUtf8(), false,
                                   QString(), RequestHeaders(fields, settings_.developerKey),
                                   kAnswerCap, Deadline()) != HttpTransport::kOpened) {
    outcome.response = ResultDocument::Build(kVersionedRoot, kNotOpened);
    return outcome;
  }
  const QByteArray metadata = MetadataPart(fields, settings_);
  const QByteArray videoHeader = VideoPartHeader();
  const QByteArray closing = ClosingDelimiter();

  QFile file(request_.filePath);
  if (request_.filePath.isEmpty() || !file.open(QIODevice::ReadOnly)) {
    // The upload's own document, so that no older result passes for this one.
    outcome.response = ResultDocument::Build(kVersionedRoot, ResultDocument::kFileUnreadable);
    return outcome;
  }
  fileSize_ = static_cast<std::uint64_t>(file.size());
  const std::uint64_t total = static_cast<std::uint64_t>(metadata.size()) +
                              static_cast<std::uint64_t>(videoHeader.size()) + fileSize_ +
                              static_cast<std::uint64_t>(closing.size());
  if (!transport.StartRequest(total) || !WriteWhole(transport, metadata)) {
    outcome.response = ResultDocument::Build(kVersionedRoot, kMetadataNotSent);
    return outcome;
  }
  if (!WriteWhole(transport, videoHeader)) {
    outcome.response = ResultDocument::Build(kVersionedRoot, kVideoHeaderNotSent);
    return outcome;
  }
  if (!SendFile(file, &outcome)) return outcome;
  file.close();
  if (!WriteWhole(transport, closing)) {
    outcome.response = ResultDocument::Build(kVersionedRoot, kClosingNotSent);
    return outcome;
  }
  if (!transport.EndRequest()) {
    // No answer came: that is not the service's verdict, so it is reported as a local failure.
    DebugLog("httpEndRequest failed");
    outcome.response = Broken(transport);
    return outcome;
  }
  const std::int64_t answered = transport.QueryResult();
  if (answered < 0) {
    outcome.sharingResult = ResultDocument::Build(kVersionedRoot, static_cast<int>(-answered));
    return outcome;
  }
  QString answer;
  if (!transport.ReadBody(&answer)) {
    outcome.response = Broken(transport);
    return outcome;
  }
  outcome.sharingResult =
      answer.isEmpty() ? ResultDocument::BuildUnversioned(kPlainRoot, kEmptyAnswer) : answer;
  return outcome;
}

// Streams the file in blocks of kBlockSize, each written in pieces so that a cancel is seen
// within one piece. A write that fails cannot be repeated within the same request (the service
// would read the bytes twice), so the request is abandoned at once.
bool SharingUploadWorker::SendFile(QFile& file, Outcome* outcome) {
  HttpTransport& transport = HttpTransport::Instance();
  const auto buffer = std::make_unique<char[]>(kBlockSize);
  std::uint64_t bytesSent = 0;
  while (bytesSent < fileSize_) {
    const auto blockBytes =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockSize, fileSize_ - bytesSent));
    if (file.read(buffer.get(), blockBytes) != static_cast<qint64>(blockBytes)) {
      DebugLog("New Error: ReadFile Error!");
      outcome->response = ResultDocument::Build(kVersionedRoot, ResultDocument::kFileUnreadable);
      return false;
    }
    for (std::uint32_t offset = 0; offset < blockBytes; offset += HttpTransport::kWritePieceBytes) {
      if (cancel_.load() != 0) {
        // The service is left with a request that never ends; it keeps nothing of it.
        outcome->response = ResultDocument::Build(kVersionedRoot, ResultDocument::kCancelled);
        return false;
      }
      const std::size_t piece =
          std::min<std::size_t>(HttpTransport::kWritePieceBytes, blockBytes - offset);
      if (transport.Write(buffer.get() + offset, piece) == 0) {
        DebugLog("writing the video failed; the request is abandoned");
        outcome->response = Broken(transport);
        return false;
      }
      const auto percent =
          static_cast<std::int32_t>((bytesSent + offset + piece) * 100 / fileSize_);
      if (percent > progress_.load()) {
        progress_ = percent;
        DebugLog("file upload %i\n", percent);
      }
    }
    bytesSent += blockBytes;
    DebugLog("file block upload %llu / %llu", static_cast<unsigned long long>(bytesSent),
             static_cast<unsigned long long>(fileSize_));
  }
  return true;
}

}  // namespace kqmavo2
