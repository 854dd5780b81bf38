// A small HTTP client on POSIX sockets for the upload control and the other callers that talk to
// web servers. A request goes through the steps the control takes: open a session, connect, open
// a request, add headers, start it with the body's total length, write the body in pieces, end it,
// then query the status and headers, read the answer, and close. Each step reports success as a
// flag; the reason for a failure is kept as text (LastError) and as a kind (LastErrorKind).
//
// "Connect" only records the server; the network is touched when the request is started (name
// lookup, TCP connect, request head sent). Name lookup covers IPv4 and IPv6.
//
// One object carries one request at a time and is meant to be driven by one thread. Abort() is the
// only member that may be called from another thread: it wakes a blocked wait and fails the
// request in progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/inet/HttpResponseHead.h"
#include "platform/inet/ProxySettings.h"

namespace inet {

inline constexpr std::uint16_t kHttpPort = 80;
inline constexpr std::uint16_t kHttpsPort = 443;
// Port value that means "the scheme's default, or the port written in the host name".
inline constexpr std::uint16_t kDefaultPort = 0;
// The wait for an answer is long because the server may unpack and check a whole upload first.
inline constexpr int kDefaultReceiveTimeoutMs = 300000;
inline constexpr int kDefaultSendTimeoutMs = 300000;
inline constexpr int kDefaultConnectTimeoutMs = 60000;
// An answer body larger than this fails instead of filling memory.
inline constexpr std::uint64_t kDefaultBodyCap = 64ull * 1024 * 1024;

// Why the last step failed.
enum class HttpError {
  kNone,
  kUsage,        // a step out of order, or an argument that cannot be sent (bad host, header, ...)
  kResolve,      // the host name does not resolve
  kConnect,      // the TCP connection was refused or could not be made
  kTimeout,      // connect, send or receive time-out
  kDeadline,     // the request's whole exchange outlasted its deadline (SetRequestDeadline)
  kSend,         // the connection broke while the request was sent
  kClosed,       // the server closed the connection before a complete answer
  kProtocol,     // the answer is not well-formed HTTP
  kTooLarge,     // the answer body exceeds the body cap
  kAborted,      // Abort() was called
  kUnsupported,  // a feature this build does not offer
};

// Options of OpenRequest.
struct RequestOptions {
  // Never answer from a cache. This client keeps none; through a proxy it asks the proxy not to
  // answer from its cache either ("Pragma: no-cache").
  bool reload = false;
  // Use TLS on the connection. The server's certificate must lead to a trusted authority and
  // name the host; a refused certificate fails StartRequest with kConnect. The http_proxy
  // setting covers plain requests only, so a secure request always goes direct.
  bool secure = false;
  // PEM file of the authorities trusted for a secure request instead of the system's store.
  std::string trustFile{};
  // Ask the server to keep the connection ("Connection: Keep-Alive" on HTTP/1.0, no
  // "Connection: close" on HTTP/1.1) and send the request over the connection the previous
  // request left open to the same server, if any. A connection is kept only after an answer that
  // agreed to it (HTTP/1.0: "Connection: keep-alive"; HTTP/1.1: no "close") and whose body was
  // framed by its length or by chunks and has been read to its end.
  bool keepAlive = false;
};

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Opens the session: the User-Agent of every request, and the proxy settings read from the
  // environment now (http_proxy, no_proxy). Fails when a session is already open or the agent
  // text cannot be sent in a header.
  bool OpenSession(std::string_view userAgent);
  // Same, with proxy settings given by the caller instead of the environment.
  bool OpenSession(std::string_view userAgent, const ProxySettings& proxy);

  // Records the server. host is a name, an IPv4 address or an IPv6 address (bare or in brackets),
  // optionally followed by ":port"; a port written in host wins over the port argument. With
  // kDefaultPort and no port in host, the port is 80 (443 for a secure request). Does not touch
  // the network. Fails without a session, or when the host is empty or not a valid host name.
  bool Connect(std::string_view host, std::uint16_t port = kDefaultPort);

  // Opens a request on the connection. verb is an HTTP method token ("POST", "GET"); path is the
  // object name (a missing leading "/" is added; blanks, control and 8-bit bytes are
  // percent-encoded); version is "HTTP/1.0" or "HTTP/1.1", empty meaning "HTTP/1.1". A new
  // request may be opened on the same connection once the previous one has ended or failed.
  bool OpenRequest(std::string_view verb, std::string_view path, std::string_view version,
                   RequestOptions options = {});

  // Adds request header lines. text holds one line, or several separated by CR LF or LF, without
  // a trailing line break (one is tolerated); the client ends each line with CR LF. Each line must
  // be "Name: value" with a valid name and no control bytes. Host, Content-Length,
  // Transfer-Encoding and Connection are the client's own: such lines from the caller are accepted
  // and left out in favour of the client's.
  bool AddHeaders(std::string_view text);

  // Time-outs in milliseconds (must be > 0); they hold for every request until Close(). The
  // receive time-out bounds each wait for answer bytes, the send time-out each wait for the socket
  // to take request bytes, the connect time-out the whole connection attempt.
  bool SetReceiveTimeout(int milliseconds);
  bool SetSendTimeout(int milliseconds);
  bool SetConnectTimeout(int milliseconds);
  // Bounds the whole exchange of each request, from StartRequest (connecting, sending the head
  // and body) to the last byte of the answer; a server that trickles its answer is cut off with
  // kDeadline even though every single wait stays within its time-out. 0, the default, means no
  // deadline. Holds for every request until Close().
  bool SetRequestDeadline(int milliseconds);
  // Largest answer body Read delivers before failing with kTooLarge; 0 means no limit. Like the
  // time-outs it holds until Close().
  void SetBodyCap(std::uint64_t bytes);

  // Starts the request whose body will be exactly totalLength bytes: resolves the host (or the
  // proxy), connects and sends the request head:
  //   request line ("POST /path HTTP/1.0"; through a proxy the path is the absolute URL),
  //   Host, User-Agent, [Proxy-Authorization, Pragma: no-cache when proxied],
  //   the caller's header lines in the order added,
  //   Content-Length: totalLength (left out only for GET and HEAD without a body),
  //   [Connection: close for HTTP/1.1], empty line.
  bool StartRequest(std::uint64_t totalLength);
  // Writes body bytes of a started request. Returns the number written (length), or 0 on failure
  // (and for an empty write). A write that would go beyond the announced total is refused and
  // sends nothing; after a broken connection every further write fails. Small writes are gathered
  // and sent together (EndRequest sends the rest), so a broken connection may be reported by a
  // later write or by EndRequest; bytes still gathered when a request is abandoned (Close,
  // Abort) are never sent.
  std::size_t Write(const void* data, std::size_t length);
  // Ends the request: the body must be complete. Then waits for the answer and reads its status
  // line and headers (interim 1xx answers are skipped). Fails on time-out, a closed connection or
  // a malformed answer head.
  bool EndRequest();
  // AddHeaders(headers) (when not empty) + StartRequest(body size) + Write(body) + EndRequest.
  bool SendRequest(std::string_view headers, std::string_view body);

  // The answer's status code; empty before EndRequest succeeded.
  std::optional<int> StatusCode() const;
  // The answer's Content-Length; empty when the answer has none (or before EndRequest).
  std::optional<std::uint64_t> ContentLength() const;
  // The value of an answer header (first one of that name, case-insensitive); empty if absent.
  std::optional<std::string> ResponseHeader(std::string_view name) const;
  // The whole answer head, once EndRequest succeeded.
  const HttpResponseHead* ResponseHead() const;

  // Waits for answer body bytes. Sets bytes to the number that Read can deliver at once without
  // waiting; 0 means the body is complete. Fails on time-out, a broken or early-closed connection,
  // a malformed chunked body, or a body beyond the cap.
  bool QueryDataAvailable(std::size_t& bytes);
  // Reads up to capacity body bytes into buffer, waiting for some when none are held. Sets
  // bytesRead (0 at the end of the body). Fails as QueryDataAvailable does.
  bool Read(void* buffer, std::size_t capacity, std::size_t& bytesRead);
  // Reads the rest of the body and appends it to body.
  bool ReadAll(std::string& body);

  // Ends the current request: its connection is closed unless the answer was read to its end
  // and the connection was kept (RequestOptions::keepAlive). The session and its settings stay.
  void EndExchange();
  // True when the last request failed on a kept connection before any byte of an answer came
  // (the server had closed it, or closed it under us): sending the request again on a fresh
  // connection is safe, since the server cannot have acted on it.
  bool FailedOnKeptConnection() const;

  // Closes the request, connection and session; the object can be opened again.
  void Close();
  // Fails the request in progress from any thread; a blocked wait returns at once. Every step
  // fails with kAborted until Close().
  void Abort();

  const std::string& LastError() const { return lastError_; }
  HttpError LastErrorKind() const { return lastErrorKind_; }
  // True once the current request failed on its deadline; later steps of that request fail for
  // other reasons ("the request has failed"), so this is what tells the cause afterwards.
  bool DeadlinePassed() const;

 private:
  struct Impl;
  bool BeginStep();
  // Sends the gathered body bytes; on failure the request has failed.
  bool SendGathered();
  bool Fail(HttpError kind, std::string message);

  std::unique_ptr<Impl> impl_;
  std::string lastError_;
  HttpError lastErrorKind_ = HttpError::kNone;
};

}  // namespace inet
