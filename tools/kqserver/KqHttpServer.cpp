#include "tools/kqserver/KqHttpServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include "tools/kqserver/ConnectionStream.h"

namespace kqserver {

namespace {

constexpr int kKeepAliveRequests = 100;
constexpr int kKeepAliveWaitMs = 5000;

}  // namespace

KqHttpServer::KqHttpServer(int readTimeoutMs, int writeTimeoutMs)
    : readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

bool KqHttpServer::process_and_close_socket(int sock) {
  ConnectionStream stream(sock, readTimeoutMs_, writeTimeoutMs_);
  ConnectionStream::SetCurrent(&stream);
  bool ok = true;
  for (int left = kKeepAliveRequests; left > 0 && is_running(); --left) {
    if (!stream.WaitForRequest(kKeepAliveWaitMs)) break;
    bool closed = false;
    stream.ResetCounters();
    ok = process_request(stream, left == 1, closed, [](httplib::Request& request) {
      const auto found = request.headers.find("Content-Type");
      if (found == request.headers.end()) return;
      request.headers.emplace(kContentTypeHeader, found->second);
      request.headers.erase(found);
    });
    if (!ok || closed || stream.Dropped()) break;
  }
  ConnectionStream::SetCurrent(nullptr);
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace kqserver
