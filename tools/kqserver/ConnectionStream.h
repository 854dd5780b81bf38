#pragma once

#include <httplib.h>

#include <atomic>
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

  // True when a request could follow on this connection within the wait.
  bool WaitForRequest(int timeoutMs) const;
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

  int socket_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  std::atomic<bool> dropped_{false};
  std::vector<char> readBuffer_;
  size_t readBegin_ = 0;
  size_t readEnd_ = 0;
  uint64_t bytesIn_ = 0;
  uint64_t bytesOut_ = 0;
};

}  // namespace kqserver
