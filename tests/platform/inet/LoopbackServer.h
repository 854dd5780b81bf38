// A listener on the loopback interface that records the exact bytes each client connection sends
// and answers through a handler, so tests see the wire and not a parser's idea of it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class LoopbackServer {
 public:
  class Connection {
   public:
    // Reads one request: its head up to the empty line, then Content-Length body bytes.
    // Returns the bytes as received (also recorded).
    std::string ReadRequest();
    void Send(std::string_view bytes);
    // Sends until the peer stops reading or the server stops; returns false once sending fails.
    bool SendForever(std::string_view piece);
    // Blocks until the client closes the connection (or the server is stopped).
    void WaitForClose();
    // Sends bytes one at a time, gapMs apart, as a server that trickles its answer; stops early
    // when the client closes the connection or the server stops.
    void Drip(std::string_view bytes, int gapMs);
    // Keeps the connection open without reading a byte until the client closes it.
    void HoldUnread();

   private:
    friend class LoopbackServer;
    Connection(LoopbackServer& server, int fd) : server_(server), fd_(fd) {}
    LoopbackServer& server_;
    int fd_;
  };
  using Handler = std::function<void(Connection&)>;

  // Listens on 127.0.0.1 (or ::1) on a free port. Ok() is false when that is not possible.
  explicit LoopbackServer(Handler handler, bool ipv6 = false);
  ~LoopbackServer();

  // Reads the request, then sends answer and closes.
  static Handler Answer(std::string answer);

  bool Ok() const { return listenFd_ >= 0; }
  std::uint16_t Port() const { return port_; }
  // The bytes of every request read so far, one entry per connection.
  std::vector<std::string> Requests();
  // A port on which nothing listens: bound and closed again.
  static std::uint16_t FreePort();

 private:
  void Run();
  void Record(std::string bytes);

  Handler handler_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  std::uint16_t port_ = 0;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};
