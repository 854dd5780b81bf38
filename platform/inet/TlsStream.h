// TLS over a TcpStream connection, for servers reached with RequestOptions::secure. The server's
// certificate chain must lead to a trusted authority (the system's trust store, or the one PEM
// file the caller names) and must name the host that was asked for; anything else fails the
// connection before a byte of the request is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/inet/TcpStream.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace inet {

class TlsStream : public TcpStream {
 public:
  // serverName is the host the certificate must name (a DNS name or an IP address); trustFile,
  // when not empty, replaces the system's trust store.
  TlsStream(int wakeFd, std::string serverName, std::string trustFile);
  ~TlsStream() override;

  // Connects, then completes the handshake within the same time-out. A refused certificate or
  // a peer that does not speak TLS gives kConnect with the reason in error.
  Status Connect(const std::string& host, std::uint16_t port, int timeoutMs,
                 std::string& error) override;
  Status SendAll(const char* data, std::size_t length, int timeoutMs, std::string& error) override;
  Status Receive(char* buffer, std::size_t capacity, std::size_t& received, int timeoutMs,
                 std::string& error) override;
  void Close() override;

 private:
  // Waits for what OpenSSL asked for after a call returned `result`. kOk means "call again";
  // otherwise error says why the connection is unusable.
  Status Retry(int result, int timeoutMs, std::string& error);
  bool Prepare(std::string& error);

  std::string serverName_;
  std::string trustFile_;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace inet
