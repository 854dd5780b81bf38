// A TCP connection with poll-based time-outs, used by HttpClient. A wake descriptor given at
// construction ends any wait at once when it becomes readable (HttpClient::Abort). TlsStream
// layers TLS over the same socket by overriding the four operations.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace inet {

class TcpStream {
 public:
  // kDeadline: the stream's deadline passed (SetDeadline); kTimeout: one wait ran out.
  enum class Status { kOk, kResolve, kConnect, kTimeout, kClosed, kBroken, kAborted, kDeadline };
  using Clock = std::chrono::steady_clock;

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
  // Whether an idle connection still looks usable: open, and the peer has neither closed it nor
  // sent anything unasked.
  bool IdleAndOpen() const;
  // From now on every wait ends at `deadline` at the latest, and none starts after it, so a peer
  // that trickles bytes cannot stretch the exchange past it. Each wait's own time-out still holds.
  void SetDeadline(Clock::time_point deadline) { deadline_ = deadline; }

 protected:
  static constexpr char kDeadlineText[] = "the server did not finish the exchange in time";
  // Waits until fd_ is ready for events; kOk, kTimeout, kDeadline or kAborted.
  Status Wait(short events, int timeoutMs);
  bool PastDeadline() const { return Clock::now() >= deadline_; }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
  int wakeFd_ = -1;
  Clock::time_point deadline_ = Clock::time_point::max();
};

}  // namespace inet
