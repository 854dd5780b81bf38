#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kqserver {

// One accepted connection, read and written by the HTTP layer. Owning the socket here lets a
// request handler cut the connection in the middle of a body or write a deliberately broken
// answer, and lets the request log count the bytes that really crossed the wire.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(int socket, int readTimeoutMs, int writeTimeoutMs);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  int socket() const override { return socket_; }

  enum class Head { kComplete, kClosed, kTimedOut, kTooLarge };

  // True when a request could follow on this connection within the wait.
  bool WaitForRequest(int timeoutMs) const;
  // Gathers the request line and header lines in the read buffer before the HTTP layer parses
  // them, so that a head has a deadline and a size: a client trickling its head or sending
  // endless header lines is cut off instead of holding a worker and growing the header map.
  Head ReadHead(int deadlineMs, size_t maxHeaderLines);
  // From here on the body must keep up an average of `bytesPerSecond`, counting only the time
  // spent waiting for the client, after a grace of `graceMs`. 0 bytes per second: no minimum.
  void BeginBody(int graceMs, uint64_t bytesPerSecond);
  // True once a read failed because the client sent its body too slowly.
  bool TooSlow() const { return tooSlow_; }

  // Whether the answer now being written keeps an HTTP/1.0 connection open (the client asked
  // for it); reset for each request.
  void SetKeepAlive(bool on) { keepAlive_ = on; }
  bool KeepAlive() const { return keepAlive_; }
  // Sends raw bytes past the HTTP layer; used for answers that must break off.
  bool WriteRaw(const std::string& bytes);
  // Closes both directions at once; everything after fails as on a dead network.
  void Drop();
  bool Dropped() const { return dropped_; }

  uint64_t BytesIn() const { return bytesIn_; }
  uint64_t BytesOut() const { return bytesOut_; }
  void ResetCounters();

  // The connection served by the calling thread, or null outside a request.
  static ConnectionStream* Current();
  static void SetCurrent(ConnectionStream* stream);

 private:
  bool Poll(short events, int timeoutMs) const;
  // How long a read may still wait for the client before the body counts as too slow.
  int64_t BodyBudgetMs() const;

  int socket_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  std::atomic<bool> dropped_{false};
  std::vector<char> readBuffer_;
  size_t readBegin_ = 0;
  size_t readEnd_ = 0;
  uint64_t bytesIn_ = 0;
  uint64_t bytesOut_ = 0;
  // Body pace: bytes received and time spent waiting since BeginBody.
  uint64_t bodyRate_ = 0;
  int64_t bodyGraceMs_ = 0;
  uint64_t bodyBytes_ = 0;
  std::chrono::steady_clock::duration bodyWaited_{};
  bool tooSlow_ = false;
  bool keepAlive_ = false;
};

}  // namespace kqserver
