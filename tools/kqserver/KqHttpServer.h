#pragma once

#include <httplib.h>

namespace kqserver {

// cpp-httplib's server with connections served through ConnectionStream, so that handlers reach
// the socket of their request (fault injection, raw answers) and HTTP/1.0 clients, which never
// reuse a connection, get it closed right after their answer.
class KqHttpServer : public httplib::Server {
 public:
  // cpp-httplib insists on parsing multipart bodies itself and refuses the uploader's; the
  // Content-Type is therefore moved to this header before routing and the body read raw.
  static constexpr const char* kContentTypeHeader = "X-Kq-Content-Type";

  KqHttpServer(int readTimeoutMs, int writeTimeoutMs);

 private:
  bool process_and_close_socket(int sock) override;

  int readTimeoutMs_;
  int writeTimeoutMs_;
};

}  // namespace kqserver
