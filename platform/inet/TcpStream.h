// A TCP connection with poll-based time-outs, used by HttpClient. A wake descriptor given at
// construction ends any wait at once when it becomes readable (HttpClient::Abort). TlsStream
// layers TLS over the same socket by overriding the four operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace inet {

class TcpStream {
 public:
  enum class Status { kOk, kResolve, kConnect, kTimeout, kClosed, kBroken, kAborted };

  explicit TcpStream(int wakeFd);
  virtual ~TcpStream();
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  // Resolves host (IPv4 and IPv6) and connects to the first address that answers within the
  // time-out, which bounds the whole attempt.
  virtual Status Connect(const std::string& host, std::uint16_t port, int timeoutMs,
                         std::string& error);
  // Sends all bytes; timeoutMs bounds each wait for the socket to take more.
  virtual Status SendAll(const char* data, std::size_t length, int timeoutMs, std::string& error);
  // Receives up to capacity bytes; received = 0 means the peer closed the connection.
  virtual Status Receive(char* buffer, std::size_t capacity, std::size_t& received, int timeoutMs,
                         std::string& error);
  virtual void Close();
  bool IsOpen() const { return fd_ >= 0; }

 protected:
  // Waits until fd_ is ready for events; kOk, kTimeout or kAborted.
  Status Wait(short events, int timeoutMs);
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
  int wakeFd_ = -1;
};

}  // namespace inet
