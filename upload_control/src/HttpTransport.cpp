#include "upload_control/src/HttpTransport.h"

#include "platform/inet/HttpClient.h"
#include "upload_control/src/DebugLog.h"

#include <limits>

namespace kqmavo2 {
namespace {
constexpr char kUserAgent[] = "mavo";
constexpr char kHttpVersion[] = "HTTP/1.0";
}  // namespace

std::atomic<int> HttpTransport::receiveTimeoutMs_{kDefaultReceiveTimeoutMs};
std::atomic<std::uint64_t> HttpTransport::bodyCap_{inet::kDefaultBodyCap};

HttpTransport& HttpTransport::Instance() {
  static HttpTransport transport;
  return transport;
}

HttpTransport::HttpTransport() = default;
HttpTransport::~HttpTransport() = default;

void HttpTransport::SetReceiveTimeout(int milliseconds) { receiveTimeoutMs_ = milliseconds; }

void HttpTransport::SetBodyCap(std::uint64_t bytes) { bodyCap_ = bytes; }

std::unique_lock<std::mutex> HttpTransport::Acquire(const void* owner) {
  std::unique_lock lock(gate_);
  std::lock_guard guard(clientMutex_);
  owner_ = owner;
  return lock;
}

void HttpTransport::AbortFor(const void* owner) {
  std::lock_guard guard(clientMutex_);
  if (owner_ == owner && client_) client_->Abort();
}

int HttpTransport::OpenPostRequest(const ServerAddress& address, int deadlineMs) {
  CloseRequest();
  lostReused_ = false;
  const QByteArray host = address.host.toUtf8();
  const std::string_view hostView(host.constData(), static_cast<size_t>(host.size()));
  if (address.host.isEmpty() || !address.portValid) return kNoConnection;
  std::unique_ptr<inet::HttpClient> client;
  {
    // The client that holds the kept connection carries on; one that was aborted in the
    // meantime refuses every step, and a fresh one takes over as it would without reuse.
    std::lock_guard guard(clientMutex_);
    if (reuse_ && client_) client = std::move(client_);
  }
  if (client && !client->Connect(hostView, address.port)) {
    client->Close();
    client.reset();
  }
  if (!client) {
    client = std::make_unique<inet::HttpClient>();
    if (!client->OpenSession(kUserAgent)) return kNoSession;
    if (!client->Connect(hostView, address.port)) {
      client->Close();
      return kNoConnection;
    }
  }
  const QByteArray path = address.path.toUtf8();
  inet::RequestOptions options;
  options.reload = true;
  options.keepAlive = reuse_;
  if (!client->OpenRequest("POST",
                           std::string_view(path.constData(), static_cast<size_t>(path.size())),
                           kHttpVersion, options)) {
    client->Close();
    return kNoRequest;
  }
  if (!client->SetReceiveTimeout(receiveTimeoutMs_.load())) {
    DebugLog("InternetSetOption INTERNET_OPTION_RECEIVE_TIMEOUT error !!!");
  }
  client->SetBodyCap(bodyCap_.load());
  client->SetRequestDeadline(deadlineMs);
  std::lock_guard guard(clientMutex_);
  client_ = std::move(client);
  return kOpened;
}

int HttpTransport::OpenMultipartRequest(const ServerAddress& address, int deadlineMs) {
  const int opened = OpenPostRequest(address, deadlineMs);
  if (opened != kOpened) return opened;
  if (!client_->AddHeaders(MultipartBody::kContentTypeHeader)) {
    CloseRequest();
    return kNoHeader;
  }
  return kOpened;
}

int HttpTransport::OpenSharingRequest(const QString& host, std::uint16_t port, const char* verb,
                                      const QByteArray& path, bool secure, const QString& trustFile,
                                      const QByteArray& headers, std::uint64_t bodyCap,
                                      int deadlineMs) {
  CloseRequest();
  auto client = std::make_unique<inet::HttpClient>();
  if (!client->OpenSession(kUserAgent)) return kNoSession;
  const QByteArray hostBytes = host.toUtf8();
  if (host.isEmpty() ||
      !client->Connect(
          std::string_view(hostBytes.constData(), static_cast<size_t>(hostBytes.size())), port)) {
    client->Close();
    return kNoConnection;
  }
  inet::RequestOptions options;
  options.reload = true;
  options.secure = secure;
  options.trustFile = trustFile.toStdString();
  if (!client->OpenRequest(verb,
                           std::string_view(path.constData(), static_cast<size_t>(path.size())), "",
                           options)) {
    client->Close();
    return kNoRequest;
  }
  if (!client->SetReceiveTimeout(receiveTimeoutMs_.load())) {
    DebugLog("InternetSetOption INTERNET_OPTION_RECEIVE_TIMEOUT error !!!");
  }
  client->SetBodyCap(bodyCap);
  client->SetRequestDeadline(deadlineMs);
  if (!headers.isEmpty() && !client->AddHeaders(std::string_view(
                                headers.constData(), static_cast<size_t>(headers.size())))) {
    DebugLog("the request headers were refused: %s", client->LastError().c_str());
    client->Close();
    return kNoHeader;
  }
  std::lock_guard guard(clientMutex_);
  client_ = std::move(client);
  return kOpened;
}

bool HttpTransport::StartRequest(std::uint64_t totalLength) {
  return client_ && client_->StartRequest(totalLength);
}

std::size_t HttpTransport::Write(const char* data, std::size_t length) {
  if (!client_) return 0;
  if (length == 0) return 0;
  return client_->Write(data, length);
}

bool HttpTransport::EndRequest() { return client_ && client_->EndRequest(); }

bool HttpTransport::SendParts(const MultipartBody& body) {
  const std::uint64_t total = body.Length();
  if (!StartRequest(total)) return false;
  std::uint64_t written = 0;
  for (const QByteArray& part : body.Parts()) {
    // A failed part counts nothing and the rest still go; the end of the request tells.
    written += Write(part.constData(), static_cast<std::size_t>(part.size()));
  }
  const bool ended = EndRequest();
  DebugLog("buffer size: %llu / %llu", static_cast<unsigned long long>(written),
           static_cast<unsigned long long>(total));
  return ended;
}

std::int64_t HttpTransport::QueryResult() {
  if (!client_) return 1;
  const std::optional<int> status = client_->StatusCode();
  // A status that cannot be read at all counts as answered with 1, as the status query's
  // starting value -1 negated.
  const int code = status.value_or(-1);
  if (code != 200 && code != 201) return -static_cast<std::int64_t>(code);
  const std::uint64_t length = client_->ContentLength().value_or(0);
  return static_cast<std::int64_t>(std::min<std::uint64_t>(
      length, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
}

bool HttpTransport::ReadBody(QString* body) {
  body->clear();
  if (!client_) return false;
  QByteArray bytes;
  bytes.reserve(1024);
  std::size_t available = 0;
  while (true) {
    if (!client_->QueryDataAvailable(available)) {
      DebugLog("reading the answer failed: %s", client_->LastError().c_str());
      return false;
    }
    if (available == 0) break;
    const qsizetype held = bytes.size();
    bytes.resize(held + static_cast<qsizetype>(available));
    std::size_t read = 0;
    if (!client_->Read(bytes.data() + held, available, read)) {
      DebugLog("reading the answer failed: %s", client_->LastError().c_str());
      return false;
    }
    bytes.resize(held + static_cast<qsizetype>(read));
  }
  qsizetype start = 0;
  if (bytes.startsWith("\xEF\xBB\xBF")) start = 3;
  *body = QString::fromUtf8(bytes.constData() + start, bytes.size() - start);
  return true;
}

bool HttpTransport::ReadPieces(std::size_t pieceBytes, QByteArray* bytes) {
  bytes->clear();
  if (!client_) return false;
  QByteArray piece(static_cast<qsizetype>(pieceBytes), '\0');
  while (true) {
    std::size_t read = 0;
    if (!client_->Read(piece.data(), pieceBytes, read)) {
      DebugLog("reading the answer failed: %s", client_->LastError().c_str());
      bytes->clear();
      return false;
    }
    if (read == 0) return true;
    bytes->append(piece.constData(), static_cast<qsizetype>(read));
  }
}

bool HttpTransport::Overdue() const {
  std::lock_guard guard(clientMutex_);
  return client_ && client_->DeadlinePassed();
}

void HttpTransport::CloseRequest() {
  std::unique_ptr<inet::HttpClient> closing;
  {
    std::lock_guard guard(clientMutex_);
    if (client_) lostReused_ = client_->FailedOnKeptConnection();
    if (reuse_ && client_) {
      client_->EndExchange();
      return;
    }
    closing = std::move(client_);
  }
  if (closing) closing->Close();
}

void HttpTransport::ReuseConnections(bool on) {
  if (!on) {
    reuse_ = false;
    CloseRequest();
    return;
  }
  CloseRequest();
  reuse_ = true;
}

}  // namespace kqmavo2
