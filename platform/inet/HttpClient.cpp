#include "platform/inet/HttpClient.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/inet/ChunkedDecoder.h"
#include "platform/inet/HostPort.h"
#include "platform/inet/TcpStream.h"
#include "platform/inet/TlsStream.h"

namespace inet {

namespace {

// Request lines and header lines longer than this are refused rather than sent.
constexpr std::size_t kMaxPathBytes = 8192;
constexpr std::size_t kMaxHeaderLineBytes = 8192;
constexpr std::size_t kMaxHeaderLines = 100;
constexpr std::size_t kReceiveChunk = 64 * 1024;
// Body writes smaller than this are gathered and sent together. Callers write bodies in small
// pieces (the uploader's are 1 KiB); one send() per piece would cost a system call and, with
// Nagle off, a TCP segment each.
constexpr std::size_t kSendGather = 64 * 1024;
constexpr int kMaxInterimAnswers = 16;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Header values may hold any visible byte, blanks and tabs, but never line breaks or other
// control bytes, which would let a value start a header of its own.
bool IsFieldValue(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7f;
  });
}

std::string EncodePath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  if (path.empty() || path.front() != '/') encoded += '/';
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

HttpError ErrorOf(TcpStream::Status status) {
  switch (status) {
    case TcpStream::Status::kOk:
      return HttpError::kNone;
    case TcpStream::Status::kResolve:
      return HttpError::kResolve;
    case TcpStream::Status::kConnect:
      return HttpError::kConnect;
    case TcpStream::Status::kTimeout:
      return HttpError::kTimeout;
    case TcpStream::Status::kClosed:
      return HttpError::kClosed;
    case TcpStream::Status::kBroken:
      return HttpError::kSend;
    case TcpStream::Status::kAborted:
      return HttpError::kAborted;
    case TcpStream::Status::kDeadline:
      return HttpError::kDeadline;
  }
  return HttpError::kSend;
}

}  // namespace

struct HttpClient::Impl {
  enum class Stage { kClosed, kSession, kConnected, kOpened, kSending, kAnswered, kFailed };

  Stage stage = Impl::Stage::kClosed;
  std::string userAgent;
  ProxySettings proxy;
  HostPort server;
  std::uint16_t portArgument = kDefaultPort;
  std::string verb;
  std::string target;  // encoded path
  std::string version;
  RequestOptions options;
  std::vector<std::string> headers;

  int receiveTimeoutMs = kDefaultReceiveTimeoutMs;
  int sendTimeoutMs = kDefaultSendTimeoutMs;
  int connectTimeoutMs = kDefaultConnectTimeoutMs;
  int deadlineMs = 0;  // 0: no deadline
  bool overdue = false;
  std::uint64_t bodyCap = kDefaultBodyCap;

  int wakeFd = -1;
  std::atomic<bool> aborted{false};
  std::unique_ptr<TcpStream> stream;
  // The connection a finished request left open, and the server it leads to.
  std::unique_ptr<TcpStream> kept;
  std::string keptTo;
  bool reused = false;      // the current request went over a kept connection
  bool lostKept = false;    // ... and that connection failed before any answer byte came
  bool strayBytes = false;  // the server sent more than its answer
  std::uint64_t announced = 0;
  std::uint64_t written = 0;  // body bytes taken from the caller, gathered or sent
  std::string gathered;       // body bytes taken but not sent yet; dropped if the request is
                              // abandoned, so a cancelled body stops where the caller stopped

  std::unique_ptr<HttpResponseHead> head;
  ChunkedDecoder chunked;
  std::string raw;             // received bytes not yet decoded
  std::string body;            // decoded body bytes
  std::size_t bodyOffset = 0;  // how much of body Read has delivered
  std::uint64_t decoded = 0;   // every body byte decoded so far
  std::uint64_t lengthLeft = 0;
  bool framedByLength = false;
  bool bodyDone = false;
  bool eof = false;
  HttpError bodyError = HttpError::kNone;  // a failed body stays failed
  std::string bodyErrorText;

  void ResetRequest() {
    stream.reset();
    verb.clear();
    target.clear();
    version.clear();
    options = {};
    headers.clear();
    announced = written = 0;
    gathered.clear();
    head.reset();
    chunked = ChunkedDecoder();
    raw.clear();
    body.clear();
    bodyOffset = 0;
    decoded = 0;
    lengthLeft = 0;
    framedByLength = bodyDone = eof = false;
    bodyError = HttpError::kNone;
    bodyErrorText.clear();
    overdue = false;
    reused = lostKept = strayBytes = false;
  }

  // A kept connection serves only the same server by the same route.
  std::string Route(bool viaProxy, std::uint16_t port) const {
    std::string route = options.secure ? "https " : "http ";
    if (viaProxy) route += "proxy " + proxy.ProxyHost() + ' ' + std::to_string(proxy.ProxyPort());
    return route + ' ' + server.host + ' ' + std::to_string(port);
  }

  // Whether the answer, read to its end, leaves the connection usable for the next request.
  bool ServerKeepsConnection() const {
    if (!options.keepAlive || !head || !bodyDone || strayBytes) return false;
    // Without a length or chunks the body ended with the connection.
    if (!framedByLength && !head->chunked && !head->HasNoBody(verb)) return false;
    std::string connection = head->Field("Connection").value_or("");
    for (char& c : connection) c = Lower(c);
    const auto says = [&](std::string_view token) {
      std::size_t start = 0;
      while (start <= connection.size()) {
        std::size_t end = connection.find(',', start);
        if (end == std::string::npos) end = connection.size();
        std::string_view item(connection.data() + start, end - start);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
          item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        if (item == token) return true;
        start = end + 1;
      }
      return false;
    };
    if (head->majorVersion == 1 && head->minorVersion == 0) return says("keep-alive");
    return !says("close");
  }

  // Keeps the finished request's connection for the next one, or closes it.
  void ReleaseStream() {
    if (stream && ServerKeepsConnection()) {
      kept = std::move(stream);
    }
    stream.reset();
  }

  std::uint16_t Port() const {
    if (server.port != 0) return server.port;
    if (portArgument != kDefaultPort) return portArgument;
    return options.secure ? kHttpsPort : kHttpPort;
  }
  std::uint16_t SchemePort() const { return options.secure ? kHttpsPort : kHttpPort; }
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
  impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

HttpClient::~HttpClient() {
  impl_->stream.reset();
  if (impl_->wakeFd >= 0) ::close(impl_->wakeFd);
}

bool HttpClient::Fail(HttpError kind, std::string message) {
  Impl& d = *impl_;
  if (d.reused && !d.head && d.raw.empty() &&
      (kind == HttpError::kSend || kind == HttpError::kClosed)) {
    d.lostKept = true;
  }
  if (kind == HttpError::kDeadline) {
    impl_->overdue = true;
    message = "the server did not finish the exchange within " + std::to_string(impl_->deadlineMs) +
              " ms";
  }
  lastErrorKind_ = kind;
  lastError_ = std::move(message);
  return false;
}

// Every step starts by forgetting the previous step's error, so LastError always describes the
// step that failed last.
bool HttpClient::BeginStep() {
  lastErrorKind_ = HttpError::kNone;
  lastError_.clear();
  if (impl_->aborted.load()) return Fail(HttpError::kAborted, "the request was aborted");
  return true;
}

bool HttpClient::OpenSession(std::string_view userAgent) {
  return OpenSession(userAgent, ProxySettings::FromEnvironment());
}

bool HttpClient::OpenSession(std::string_view userAgent, const ProxySettings& proxy) {
  if (!BeginStep()) return false;
  if (impl_->stage != Impl::Stage::kClosed) {
    return Fail(HttpError::kUsage, "a session is already open");
  }
  if (userAgent.size() > kMaxHeaderLineBytes || !IsFieldValue(userAgent)) {
    return Fail(HttpError::kUsage, "the user agent text cannot be sent in a header");
  }
  impl_->userAgent = std::string(userAgent);
  impl_->proxy = proxy;
  impl_->stage = Impl::Stage::kSession;
  return true;
}

bool HttpClient::Connect(std::string_view host, std::uint16_t port) {
  if (!BeginStep()) return false;
  if (impl_->stage == Impl::Stage::kClosed) return Fail(HttpError::kUsage, "no session is open");
  impl_->ResetRequest();
  impl_->stage = Impl::Stage::kSession;
  HostPort server;
  std::string error;
  if (!HostPort::Parse(host, server, error)) return Fail(HttpError::kUsage, error);
  impl_->server = server;
  impl_->portArgument = port;
  impl_->stage = Impl::Stage::kConnected;
  return true;
}

bool HttpClient::OpenRequest(std::string_view verb, std::string_view path, std::string_view version,
                             RequestOptions options) {
  if (!BeginStep()) return false;
  if (impl_->stage == Impl::Stage::kClosed || impl_->stage == Impl::Stage::kSession) {
    return Fail(HttpError::kUsage, "no connection is open");
  }
  if (verb.size() > 32 || !IsToken(verb)) {
    return Fail(HttpError::kUsage, "\"" + std::string(verb) + "\" is not a request method");
  }
  if (!version.empty() && version != "HTTP/1.0" && version != "HTTP/1.1") {
    return Fail(HttpError::kUsage, "\"" + std::string(version) + "\" is not a supported version");
  }
  if (path.size() > kMaxPathBytes) {
    return Fail(HttpError::kUsage,
                "the request path is longer than " + std::to_string(kMaxPathBytes) + " bytes");
  }
  impl_->ResetRequest();
  impl_->verb = std::string(verb);
  impl_->target = EncodePath(path);
  impl_->version = version.empty() ? "HTTP/1.1" : std::string(version);
  impl_->options = options;
  impl_->stage = Impl::Stage::kOpened;
  return true;
}

bool HttpClient::AddHeaders(std::string_view text) {
  if (!BeginStep()) return false;
  if (impl_->stage != Impl::Stage::kOpened) {
    return Fail(HttpError::kUsage, "headers can be added only to an opened, unstarted request");
  }
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)) || !IsFieldValue(line) ||
        line.size() > kMaxHeaderLineBytes) {
      return Fail(HttpError::kUsage,
                  "\"" + std::string(line.substr(0, 80)) + "\" is not a valid header line");
    }
    const std::string_view name = line.substr(0, colon);
    // The client frames the body and addresses the server itself; a second say from the caller
    // would leave the server to pick one.
    if (EqualsIgnoreCase(name, "Host") || EqualsIgnoreCase(name, "Content-Length") ||
        EqualsIgnoreCase(name, "Transfer-Encoding") || EqualsIgnoreCase(name, "Connection")) {
      continue;
    }
    lines.emplace_back(line);
  }
  if (impl_->headers.size() + lines.size() > kMaxHeaderLines) {
    return Fail(HttpError::kUsage, "too many header lines");
  }
  impl_->headers.insert(impl_->headers.end(), lines.begin(), lines.end());
  return true;
}

bool HttpClient::SetReceiveTimeout(int milliseconds) {
  if (milliseconds <= 0) return Fail(HttpError::kUsage, "a time-out must be positive");
  impl_->receiveTimeoutMs = milliseconds;
  return true;
}

bool HttpClient::SetSendTimeout(int milliseconds) {
  if (milliseconds <= 0) return Fail(HttpError::kUsage, "a time-out must be positive");
  impl_->sendTimeoutMs = milliseconds;
  return true;
}

bool HttpClient::SetConnectTimeout(int milliseconds) {
  if (milliseconds <= 0) return Fail(HttpError::kUsage, "a time-out must be positive");
  impl_->connectTimeoutMs = milliseconds;
  return true;
}

bool HttpClient::SetRequestDeadline(int milliseconds) {
  if (milliseconds < 0) return Fail(HttpError::kUsage, "a deadline cannot be negative");
  impl_->deadlineMs = milliseconds;
  return true;
}

bool HttpClient::DeadlinePassed() const { return impl_->overdue; }

void HttpClient::SetBodyCap(std::uint64_t bytes) { impl_->bodyCap = bytes; }

bool HttpClient::StartRequest(std::uint64_t totalLength) {
  if (!BeginStep()) return false;
  Impl& d = *impl_;
  if (d.stage != Impl::Stage::kOpened) {
    return Fail(HttpError::kUsage, d.stage == Impl::Stage::kSending
                                       ? "the request was already started"
                                       : "no request is open");
  }
  const std::uint16_t port = d.Port();
  // A proxy setting that cannot be used must not be bypassed silently.
  if (!d.options.secure && !d.proxy.Error().empty() && !d.proxy.IsExcluded(d.server.host, port)) {
    return Fail(HttpError::kUsage, d.proxy.Error());
  }
  const bool viaProxy = !d.options.secure && d.proxy.UseProxyFor(d.server.host, port);
  const std::string authority = d.server.Authority(port, d.SchemePort());

  std::string head = d.verb + ' ';
  if (viaProxy) head += "http://" + authority;
  head += d.target + ' ' + d.version + "\r\n";
  head += "Host: " + authority + "\r\n";
  if (!d.userAgent.empty()) head += "User-Agent: " + d.userAgent + "\r\n";
  if (viaProxy && !d.proxy.ProxyAuthorization().empty()) {
    head += "Proxy-Authorization: " + d.proxy.ProxyAuthorization() + "\r\n";
  }
  if (viaProxy && d.options.reload) head += "Pragma: no-cache\r\n";
  for (const std::string& line : d.headers) head += line + "\r\n";
  if (totalLength > 0 || (d.verb != "GET" && d.verb != "HEAD")) {
    head += "Content-Length: " + std::to_string(totalLength) + "\r\n";
  }
  if (d.options.keepAlive) {
    if (d.version == "HTTP/1.0") head += "Connection: Keep-Alive\r\n";
  } else if (d.version == "HTTP/1.1") {
    // The connection is not reused, so an HTTP/1.1 server should not keep it open either.
    head += "Connection: close\r\n";
  }
  head += "\r\n";

  const std::string route = d.Route(viaProxy, port);
  std::unique_ptr<TcpStream> kept = std::move(d.kept);
  if (d.options.keepAlive && kept && d.keptTo == route && kept->IdleAndOpen()) {
    kept->SetDeadline(d.deadlineMs > 0
                          ? TcpStream::Clock::now() + std::chrono::milliseconds(d.deadlineMs)
                          : TcpStream::Clock::time_point::max());
    std::string error;
    if (kept->SendAll(head.data(), head.size(), d.sendTimeoutMs, error) == TcpStream::Status::kOk) {
      d.stream = std::move(kept);
      d.reused = true;
      d.announced = totalLength;
      d.written = 0;
      d.stage = Impl::Stage::kSending;
      return true;
    }
    // Nothing of the request reached the server: a fresh connection takes it whole.
  }
  kept.reset();
  d.keptTo = route;

  if (d.options.secure) {
    d.stream = std::make_unique<TlsStream>(d.wakeFd, d.server.host, d.options.trustFile);
  } else {
    d.stream = std::make_unique<TcpStream>(d.wakeFd);
  }
  if (d.deadlineMs > 0) {
    d.stream->SetDeadline(TcpStream::Clock::now() + std::chrono::milliseconds(d.deadlineMs));
  }
  std::string error;
  TcpStream::Status status =
      viaProxy
          ? d.stream->Connect(d.proxy.ProxyHost(), d.proxy.ProxyPort(), d.connectTimeoutMs, error)
          : d.stream->Connect(d.server.host, port, d.connectTimeoutMs, error);
  if (status == TcpStream::Status::kOk) {
    status = d.stream->SendAll(head.data(), head.size(), d.sendTimeoutMs, error);
  }
  if (status != TcpStream::Status::kOk) {
    d.stream.reset();
    d.stage = Impl::Stage::kFailed;
    if (viaProxy && status != TcpStream::Status::kAborted) error = "proxy: " + error;
    return Fail(ErrorOf(status), error);
  }
  d.announced = totalLength;
  d.written = 0;
  d.stage = Impl::Stage::kSending;
  return true;
}

std::size_t HttpClient::Write(const void* data, std::size_t length) {
  if (!BeginStep()) return 0;
  Impl& d = *impl_;
  if (d.stage != Impl::Stage::kSending) {
    Fail(HttpError::kUsage, "no started request to write to");
    return 0;
  }
  if (length == 0) return 0;
  if (length > d.announced - d.written) {
    Fail(HttpError::kUsage,
         "the write goes beyond the announced length of " + std::to_string(d.announced) + " bytes");
    return 0;
  }
  const char* bytes = static_cast<const char*>(data);
  if (d.gathered.size() + length <= kSendGather) {
    if (d.gathered.capacity() < kSendGather) d.gathered.reserve(kSendGather);
    d.gathered.append(bytes, length);
    d.written += length;
    if (d.gathered.size() == kSendGather && !SendGathered()) return 0;
    return length;
  }
  if (!SendGathered()) return 0;
  if (length < kSendGather) {
    d.gathered.append(bytes, length);
    d.written += length;
    return length;
  }
  std::string error;
  const TcpStream::Status status = d.stream->SendAll(bytes, length, d.sendTimeoutMs, error);
  if (status != TcpStream::Status::kOk) {
    d.stream.reset();
    d.stage = Impl::Stage::kFailed;
    Fail(ErrorOf(status), error);
    return 0;
  }
  d.written += length;
  return length;
}

bool HttpClient::SendGathered() {
  Impl& d = *impl_;
  if (d.gathered.empty()) return true;
  std::string error;
  const TcpStream::Status status =
      d.stream->SendAll(d.gathered.data(), d.gathered.size(), d.sendTimeoutMs, error);
  d.gathered.clear();
  if (status != TcpStream::Status::kOk) {
    d.stream.reset();
    d.stage = Impl::Stage::kFailed;
    return Fail(ErrorOf(status), error);
  }
  return true;
}

bool HttpClient::EndRequest() {
  if (!BeginStep()) return false;
  Impl& d = *impl_;
  if (d.stage != Impl::Stage::kSending) {
    return Fail(HttpError::kUsage, d.stage == Impl::Stage::kFailed ? "the request has failed"
                                                                   : "no started request to end");
  }
  // The server would wait for the missing bytes until one side times out.
  if (d.written != d.announced) {
    d.stream.reset();
    d.stage = Impl::Stage::kFailed;
    return Fail(HttpError::kUsage, "the request body is incomplete: " + std::to_string(d.written) +
                                       " of " + std::to_string(d.announced) + " bytes written");
  }
  if (!SendGathered()) return false;

  auto head = std::make_unique<HttpResponseHead>();
  std::string buffer(kReceiveChunk, '\0');
  int interim = 0;
  while (true) {
    std::size_t consumed = 0;
    std::string error;
    const auto parsed = HttpResponseHead::Parse(d.raw, *head, consumed, error);
    if (parsed == HttpResponseHead::ParseResult::kInvalid) {
      d.stream.reset();
      d.stage = Impl::Stage::kFailed;
      return Fail(HttpError::kProtocol, error);
    }
    if (parsed == HttpResponseHead::ParseResult::kComplete) {
      d.raw.erase(0, consumed);
      // Interim answers ("100 Continue") precede the real one; a server that sends nothing else
      // must not keep us here.
      if (head->status >= 100 && head->status < 200 && head->status != 101) {
        if (++interim > kMaxInterimAnswers) {
          d.stream.reset();
          d.stage = Impl::Stage::kFailed;
          return Fail(HttpError::kProtocol, "the server sends only interim answers");
        }
        continue;
      }
      break;
    }
    std::size_t received = 0;
    const TcpStream::Status status =
        d.stream->Receive(buffer.data(), buffer.size(), received, d.receiveTimeoutMs, error);
    if (status != TcpStream::Status::kOk || received == 0) {
      d.stream.reset();
      d.stage = Impl::Stage::kFailed;
      if (status == TcpStream::Status::kOk) {
        return Fail(HttpError::kClosed, d.raw.empty()
                                            ? "the server closed the connection without answering"
                                            : "the server closed the connection within its answer");
      }
      return Fail(status == TcpStream::Status::kBroken ? HttpError::kClosed : ErrorOf(status),
                  error);
    }
    d.raw.append(buffer.data(), received);
  }

  d.head = std::move(head);
  if (d.head->HasNoBody(d.verb)) {
    d.bodyDone = true;
  } else if (!d.head->chunked && d.head->contentLength) {
    d.framedByLength = true;
    d.lengthLeft = *d.head->contentLength;
    d.bodyDone = d.lengthLeft == 0;
  }
  d.stage = Impl::Stage::kAnswered;
  return true;
}

bool HttpClient::SendRequest(std::string_view headers, std::string_view body) {
  if (!headers.empty() && !AddHeaders(headers)) return false;
  if (!StartRequest(body.size())) return false;
  if (!body.empty() && Write(body.data(), body.size()) != body.size()) return false;
  return EndRequest();
}

std::optional<int> HttpClient::StatusCode() const {
  if (!impl_->head) return std::nullopt;
  return impl_->head->status;
}

std::optional<std::uint64_t> HttpClient::ContentLength() const {
  if (!impl_->head) return std::nullopt;
  return impl_->head->contentLength;
}

std::optional<std::string> HttpClient::ResponseHeader(std::string_view name) const {
  if (!impl_->head) return std::nullopt;
  return impl_->head->Field(name);
}

const HttpResponseHead* HttpClient::ResponseHead() const { return impl_->head.get(); }

bool HttpClient::QueryDataAvailable(std::size_t& bytes) {
  bytes = 0;
  if (!BeginStep()) return false;
  Impl& d = *impl_;
  if (d.stage != Impl::Stage::kAnswered) return Fail(HttpError::kUsage, "no answer to read");
  if (d.bodyError != HttpError::kNone) return Fail(d.bodyError, d.bodyErrorText);

  const auto failBody = [&](HttpError kind, std::string text) {
    d.stream.reset();
    d.bodyError = kind;
    d.bodyErrorText = text;
    return Fail(kind, std::move(text));
  };
  const auto tooLarge = [&] {
    return failBody(HttpError::kTooLarge,
                    "the answer is larger than " + std::to_string(d.bodyCap) + " bytes");
  };
  if (d.bodyCap != 0 && d.framedByLength && *d.head->contentLength > d.bodyCap) return tooLarge();

  std::string buffer;
  while (true) {
    // Move what has arrived from the raw buffer into the body, as the framing allows.
    if (!d.raw.empty() && !d.bodyDone) {
      const std::size_t before = d.body.size();
      if (d.head->chunked) {
        const std::size_t used = d.chunked.Feed(d.raw, d.body);
        d.raw.erase(0, used);
        if (d.chunked.Failed()) {
          return failBody(HttpError::kProtocol, "malformed chunked answer: " + d.chunked.Error());
        }
        d.bodyDone = d.chunked.Done();
      } else if (d.framedByLength) {
        const auto take =
            static_cast<std::size_t>(std::min<std::uint64_t>(d.lengthLeft, d.raw.size()));
        d.body.append(d.raw, 0, take);
        d.raw.erase(0, take);
        d.lengthLeft -= take;
        d.bodyDone = d.lengthLeft == 0;
      } else {
        d.body += d.raw;
        d.raw.clear();
      }
      d.decoded += d.body.size() - before;
      if (d.bodyCap != 0 && d.decoded > d.bodyCap) return tooLarge();
    }
    if (d.bodyDone && !d.raw.empty()) {
      d.strayBytes = true;  // anything after the body is not ours to deliver
      d.raw.clear();
    }

    if (d.body.size() > d.bodyOffset) {
      bytes = d.body.size() - d.bodyOffset;
      return true;
    }
    if (d.bodyDone) {
      d.ReleaseStream();
      return true;
    }
    if (d.eof) {
      if (!d.framedByLength && !d.head->chunked) {
        d.bodyDone = true;
        return true;
      }
      return failBody(HttpError::kClosed,
                      "the server closed the connection before the whole answer arrived (" +
                          std::to_string(d.decoded) + " bytes received)");
    }
    if (buffer.empty()) buffer.resize(kReceiveChunk);
    std::size_t received = 0;
    std::string error;
    const TcpStream::Status status =
        d.stream->Receive(buffer.data(), buffer.size(), received, d.receiveTimeoutMs, error);
    if (status != TcpStream::Status::kOk) {
      return failBody(status == TcpStream::Status::kBroken ? HttpError::kClosed : ErrorOf(status),
                      error);
    }
    if (received == 0) {
      d.eof = true;
    } else {
      d.raw.append(buffer.data(), received);
    }
  }
}

bool HttpClient::Read(void* buffer, std::size_t capacity, std::size_t& bytesRead) {
  bytesRead = 0;
  if (capacity == 0) return true;
  std::size_t available = 0;
  if (!QueryDataAvailable(available)) return false;
  Impl& d = *impl_;
  const std::size_t take = std::min(available, capacity);
  std::memcpy(buffer, d.body.data() + d.bodyOffset, take);
  d.bodyOffset += take;
  if (d.bodyOffset == d.body.size()) {
    d.body.clear();
    d.bodyOffset = 0;
  }
  bytesRead = take;
  return true;
}

bool HttpClient::ReadAll(std::string& body) {
  std::size_t available = 0;
  while (QueryDataAvailable(available)) {
    if (available == 0) return true;
    Impl& d = *impl_;
    body.append(d.body, d.bodyOffset, available);
    d.body.clear();
    d.bodyOffset = 0;
  }
  return false;
}

void HttpClient::EndExchange() {
  Impl& d = *impl_;
  if (d.stage == Impl::Stage::kClosed) return;
  if (d.aborted.load()) d.kept.reset();
  d.ResetRequest();
  d.stage = Impl::Stage::kSession;
}

bool HttpClient::FailedOnKeptConnection() const { return impl_->lostKept; }

void HttpClient::Close() {
  Impl& d = *impl_;
  d.ResetRequest();
  d.kept.reset();
  d.keptTo.clear();
  d.stage = Impl::Stage::kClosed;
  d.userAgent.clear();
  d.proxy = ProxySettings();
  d.server = HostPort();
  d.portArgument = kDefaultPort;
  d.receiveTimeoutMs = kDefaultReceiveTimeoutMs;
  d.sendTimeoutMs = kDefaultSendTimeoutMs;
  d.connectTimeoutMs = kDefaultConnectTimeoutMs;
  d.deadlineMs = 0;
  d.bodyCap = kDefaultBodyCap;
  d.aborted.store(false);
  if (d.wakeFd >= 0) {
    eventfd_t drained = 0;
    ::eventfd_read(d.wakeFd, &drained);
  }
}

void HttpClient::Abort() {
  // The kept connection goes with the next step, which fails, or with EndExchange or Close.
  impl_->aborted.store(true);
  if (impl_->wakeFd >= 0) ::eventfd_write(impl_->wakeFd, 1);
}

}  // namespace inet
