#include "platform/inet/TlsStream.h"

#include <chrono>
#include <climits>
#include <cstring>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <cerrno>
#include <cstdint>

namespace inet {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The first queued OpenSSL error as text, or fallback when the queue is empty.
std::string OpenSslError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// OpenSSL's own socket layer writes with write(), which raises SIGPIPE when the server has gone
// and would end the host program; this one sends with MSG_NOSIGNAL like the plain stream.
int SocketOf(BIO* bio) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int SocketWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  const ssize_t sent = ::send(SocketOf(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_write(bio);
  }
  return static_cast<int>(sent);
}

int SocketRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  const ssize_t got = ::recv(SocketOf(bio), data, static_cast<std::size_t>(length), 0);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_read(bio);
  }
  return static_cast<int>(got);
}

long SocketControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int SocketCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* SocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "nosignal socket");
    if (made != nullptr) {
      BIO_meth_set_write(made, SocketWrite);
      BIO_meth_set_read(made, SocketRead);
      BIO_meth_set_ctrl(made, SocketControl);
      BIO_meth_set_create(made, SocketCreate);
    }
    return made;
  }();
  return method;
}

}  // namespace

TlsStream::TlsStream(int wakeFd, std::string serverName, std::string trustFile)
    : TcpStream(wakeFd), serverName_(std::move(serverName)), trustFile_(std::move(trustFile)) {}

TlsStream::~TlsStream() { Close(); }

void TlsStream::Close() {
  if (ssl_ != nullptr) {
    // One non-blocking attempt to say goodbye; the peer does not depend on it.
    if (IsOpen()) SSL_shutdown(ssl_);
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (context_ != nullptr) {
    SSL_CTX_free(context_);
    context_ = nullptr;
  }
  ERR_clear_error();
  TcpStream::Close();
}

bool TlsStream::Prepare(std::string& error) {
  ERR_clear_error();
  context_ = SSL_CTX_new(TLS_client_method());
  if (context_ == nullptr) {
    error = "TLS is not available: " + OpenSslError("no TLS context");
    return false;
  }
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
  // Many servers close without a TLS goodbye; the HTTP framing tells whether the answer is whole.
  SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
  const int loaded = trustFile_.empty()
                         ? SSL_CTX_set_default_verify_paths(context_)
                         : SSL_CTX_load_verify_locations(context_, trustFile_.c_str(), nullptr);
  if (loaded != 1) {
    error = trustFile_.empty()
                ? "the system's trusted certificates cannot be read"
                : "the trusted certificate file \"" + trustFile_ + "\" cannot be read";
    ERR_clear_error();
    return false;
  }
  ssl_ = SSL_new(context_);
  BIO* socket = SocketMethod() != nullptr ? BIO_new(SocketMethod()) : nullptr;
  if (ssl_ == nullptr || socket == nullptr) {
    if (socket != nullptr) BIO_free(socket);
    error = "TLS is not available: " + OpenSslError("no TLS connection");
    return false;
  }
  BIO_set_data(socket, reinterpret_cast<void*>(static_cast<std::intptr_t>(Fd())));
  SSL_set_bio(ssl_, socket, socket);
  // Partial writes let a send time-out or an abort interrupt a large write between records.
  SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  X509_VERIFY_PARAM* verify = SSL_get0_param(ssl_);
  X509_VERIFY_PARAM_set_hostflags(verify, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (IsIpAddress(serverName_)) {
    if (X509_VERIFY_PARAM_set1_ip_asc(verify, serverName_.c_str()) != 1) {
      error = "the address " + serverName_ + " cannot be checked against a certificate";
      return false;
    }
  } else {
    if (SSL_set_tlsext_host_name(ssl_, serverName_.c_str()) != 1 ||
        SSL_set1_host(ssl_, serverName_.c_str()) != 1) {
      error = "the name " + serverName_ + " cannot be checked against a certificate";
      return false;
    }
  }
  return true;
}

TcpStream::Status TlsStream::Retry(int result, int timeoutMs, std::string& error) {
  const int reason = SSL_get_error(ssl_, result);
  Status waited = Status::kOk;
  if (reason == SSL_ERROR_WANT_READ) {
    waited = Wait(POLLIN, timeoutMs);
  } else if (reason == SSL_ERROR_WANT_WRITE) {
    waited = Wait(POLLOUT, timeoutMs);
  } else {
    error = reason == SSL_ERROR_ZERO_RETURN
                ? "the server closed the secure connection"
                : "the secure connection failed (" + OpenSslError("the connection broke") + ")";
    return Status::kBroken;
  }
  if (waited == Status::kTimeout) error = "the secure connection timed out";
  if (waited == Status::kAborted) error = "the request was aborted";
  if (waited == Status::kDeadline) error = kDeadlineText;
  return waited;
}

TcpStream::Status TlsStream::Connect(const std::string& host, std::uint16_t port, int timeoutMs,
                                     std::string& error) {
  Close();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Status status = TcpStream::Connect(host, port, timeoutMs, error);
  if (status != Status::kOk) return status;
  if (!Prepare(error)) {
    Close();
    return Status::kConnect;
  }
  while (true) {
    ERR_clear_error();
    const int result = SSL_connect(ssl_);
    if (result == 1) return Status::kOk;
    const int reason = SSL_get_error(ssl_, result);
    if (reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) {
      const long verified = SSL_get_verify_result(ssl_);
      if (verified != X509_V_OK) {
        error = "the certificate of " + host + " was not accepted (" +
                X509_verify_cert_error_string(verified) + ")";
        ERR_clear_error();
      } else {
        error = "no secure connection could be made with " + host + " port " +
                std::to_string(port) + " (" + OpenSslError("the server does not speak TLS") + ")";
      }
      Close();
      return Status::kConnect;
    }
    status = Retry(result, RemainingMs(deadline), error);
    if (status != Status::kOk) {
      if (status == Status::kTimeout) {
        error = "the secure connection to " + host + " port " + std::to_string(port) + " timed out";
      }
      Close();
      return status;
    }
  }
}

TcpStream::Status TlsStream::SendAll(const char* data, std::size_t length, int timeoutMs,
                                     std::string& error) {
  if (ssl_ == nullptr) {
    error = "the connection is closed";
    return Status::kClosed;
  }
  std::size_t sent = 0;
  while (sent < length) {
    // A peer that takes a little now and then must not stretch the exchange past its deadline.
    if (PastDeadline()) {
      error = kDeadlineText;
      return Status::kDeadline;
    }
    const int piece = static_cast<int>(std::min<std::size_t>(length - sent, INT_MAX));
    ERR_clear_error();
    const int result = SSL_write(ssl_, data + sent, piece);
    if (result > 0) {
      sent += static_cast<std::size_t>(result);
      continue;
    }
    const Status status = Retry(result, timeoutMs, error);
    if (status == Status::kTimeout) error = "sending to the server timed out";
    if (status != Status::kOk) return status;
  }
  return Status::kOk;
}

TcpStream::Status TlsStream::Receive(char* buffer, std::size_t capacity, std::size_t& received,
                                     int timeoutMs, std::string& error) {
  received = 0;
  if (ssl_ == nullptr) {
    error = "the connection is closed";
    return Status::kClosed;
  }
  const int wanted = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
  while (true) {
    if (PastDeadline()) {
      error = kDeadlineText;
      return Status::kDeadline;
    }
    ERR_clear_error();
    const int result = SSL_read(ssl_, buffer, wanted);
    if (result > 0) {
      received = static_cast<std::size_t>(result);
      return Status::kOk;
    }
    if (SSL_get_error(ssl_, result) == SSL_ERROR_ZERO_RETURN) return Status::kOk;  // peer's end
    const Status status = Retry(result, timeoutMs, error);
    if (status == Status::kTimeout) {
      error = "no answer from the server within " + std::to_string(timeoutMs) + " ms";
    }
    if (status != Status::kOk) return status;
  }
}

}  // namespace inet
