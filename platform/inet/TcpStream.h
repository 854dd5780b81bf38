// A TCP connection with poll-based time-outs, used by HttpClient. A wake descriptor given at
// construction ends any wait at once when it becomes readable (HttpClient::Abort).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace inet {

class TcpStream {
 public:
  enum class Status { kOk, kResolve, kConnect, kTimeout, kClosed, kBroken, kAborted };

  explicit TcpStream(int wakeFd);
  ~TcpStream();
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  // Resolves host (IPv4 and IPv6) and connects to the first address that answers within the
  // time-out, which bounds the whole attempt.
  Status Connect(const std::string& host, std::uint16_t port, int timeoutMs, std::string& error);
  // Sends all bytes; timeoutMs bounds each wait for the socket to take more.
  Status SendAll(const char* data, std::size_t length, int timeoutMs, std::string& error);
  // Receives up to capacity bytes; received = 0 means the peer closed the connection.
  Status Receive(char* buffer, std::size_t capacity, std::size_t& received, int timeoutMs,
                 std::string& error);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  // Waits until fd_ is ready for events; kOk, kTimeout or kAborted.
  Status Wait(short events, int timeoutMs);

  int fd_ = -1;
  int wakeFd_ = -1;
};

}  // namespace inet
