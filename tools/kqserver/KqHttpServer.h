#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace kqserver {

// How long and how slowly a client may take, and how large a request head may be.
struct ConnectionLimits {
  int readTimeoutMs = 60000;
  int writeTimeoutMs = 60000;
  int headTimeoutMs = 10000;    // the whole request head, from its first byte
  uint64_t minBodyRate = 4096;  // bytes per second, after a grace of headTimeoutMs
  size_t maxHeaderLines = 100;
  size_t maxWorkers = 256;  // connections served at once; the listen backlog matches
};

// cpp-httplib's server with connections served through ConnectionStream, so that handlers reach
// the socket of their request (fault injection, raw answers) and an HTTP/1.0 client gets its
// connection closed right after its answer unless it asked to keep it.
class KqHttpServer : public httplib::Server {
 public:
  // cpp-httplib insists on parsing multipart bodies itself and refuses the uploader's; the
  // Content-Type is therefore moved to this header before routing and the body read raw.
  static constexpr const char* kContentTypeHeader = "X-Kq-Content-Type";

  explicit KqHttpServer(const ConnectionLimits& limits);

  // Widens the kernel's queue of not yet accepted connections once the port is bound; the
  // library's own is too short for a burst of clients.
  bool WidenBacklog();
  // Called with a line for the request log when a request is refused before it reaches a route.
  void SetRefusalLog(std::function<void(const std::string&)> log) { refusalLog_ = std::move(log); }
  // Stops listening and ends every connection once the request it is serving is answered. The
  // library's own stop waits for the workers, and a kept connection would go on serving its
  // client's next requests meanwhile: a server being stopped would not look stopped.
  void Shutdown();

 private:
  bool process_and_close_socket(int sock) override;
  void RefuseHead(class ConnectionStream& stream, int status, const char* reason);

  ConnectionLimits limits_;
  int listenSocket_ = -1;
  std::atomic<bool> stopping_{false};
  std::function<void(const std::string&)> refusalLog_;
};

}  // namespace kqserver
