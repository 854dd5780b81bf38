#include "tools/kqserver/KqHttpServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "tools/kqserver/ConnectionStream.h"
#include "tools/kqserver/WorkerPool.h"

namespace kqserver {

namespace {

constexpr int kKeepAliveRequests = 100;
constexpr int kKeepAliveWaitMs = 5000;
constexpr int kStopCheckMs = 100;
// After a refusal the rest of what the client sends is read for a moment, so that it sees the
// answer instead of a reset connection.
constexpr int kLingerMs = 1000;
constexpr size_t kLingerBytes = 1024 * 1024;

void Linger(int sock) {
  ::shutdown(sock, SHUT_WR);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
  char sink[16384];
  size_t drained = 0;
  while (drained < kLingerBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          until - std::chrono::steady_clock::now())
                          .count();
    pollfd entry{sock, POLLIN, 0};
    if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t got = ::recv(sock, sink, sizeof sink, 0);
    if (got <= 0) break;
    drained += static_cast<size_t>(got);
  }
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  const std::string other(b);
  return a.size() == other.size() &&
         std::equal(a.begin(), a.end(), other.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

KqHttpServer::KqHttpServer(const ConnectionLimits& limits) : limits_(limits) {
  new_task_queue = [this] { return new WorkerPool(limits_.maxWorkers); };
  // Only announces the count in the Keep-Alive header; the loop below enforces it.
  set_keep_alive_max_count(kKeepAliveRequests);
  // An HTTP/1.0 client keeps its connection only when it asked for it (in any letter case) and
  // the answer says so; the library's answer never does.
  set_post_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    ConnectionStream* stream = ConnectionStream::Current();
    if (stream == nullptr || stopping_ || !stream->KeepAlive() || request.version != "HTTP/1.0" ||
        !EqualsIgnoringCase(request.get_header_value("Connection"), "keep-alive") ||
        response.has_header("Connection")) {
      if (stream != nullptr) stream->SetKeepAlive(false);
      return;
    }
    response.set_header("Connection", "keep-alive");
  });
  set_socket_options([this](socket_t sock) {
    httplib::default_socket_options(sock);
    listenSocket_ = sock;
  });
}

bool KqHttpServer::WidenBacklog() {
  // Linux takes a second listen() on a listening socket as a new backlog.
  return listenSocket_ >= 0 && ::listen(listenSocket_, static_cast<int>(limits_.maxWorkers)) == 0;
}

void KqHttpServer::RefuseHead(ConnectionStream& stream, int status, const char* reason) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><error ver=\"2.0\"><errInfo>" +
      std::to_string(status) + "</errInfo></error>";
  const char* text = status == 431 ? "Request Header Fields Too Large" : "Request Timeout";
  stream.WriteRaw("HTTP/1.1 " + std::to_string(status) + " " + text +
                  "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  if (refusalLog_) {
    std::string ip;
    int port = 0;
    stream.get_remote_ip_and_port(ip, port);
    refusalLog_(ip + ":" + std::to_string(port) + " - - " + std::to_string(status) +
                " in=" + std::to_string(stream.BytesIn()) + " | " + reason);
  }
  Linger(stream.socket());
}

void KqHttpServer::Shutdown() {
  stopping_ = true;
  stop();
}

bool KqHttpServer::process_and_close_socket(int sock) {
  // An answer goes out in two writes (head, then body). With Nagle's algorithm the body would
  // wait for the acknowledgement of the head, which the client delays: 40 ms per answer.
  const int on = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ConnectionStream stream(sock, limits_.readTimeoutMs, limits_.writeTimeoutMs);
  ConnectionStream::SetCurrent(&stream);
  bool ok = true;
  for (int left = kKeepAliveRequests; left > 0 && is_running() && !stopping_; --left) {
    // An idle kept connection is looked at in short slices, so a stop does not wait for it.
    bool request = false;
    for (int waited = 0; waited < kKeepAliveWaitMs && !stopping_ && !request;
         waited += kStopCheckMs) {
      request = stream.WaitForRequest(kStopCheckMs);
      if (stream.Dropped()) break;
    }
    if (!request || stopping_) break;
    stream.ResetCounters();
    const auto head = stream.ReadHead(limits_.headTimeoutMs, limits_.maxHeaderLines);
    if (head == ConnectionStream::Head::kTooLarge) {
      RefuseHead(stream, 431, "request head too large or too many header lines");
      break;
    }
    if (head == ConnectionStream::Head::kTimedOut) {
      RefuseHead(stream, 408, "request head not complete in time");
      break;
    }
    if (head != ConnectionStream::Head::kComplete) break;
    stream.BeginBody(limits_.headTimeoutMs, limits_.minBodyRate);
    stream.SetKeepAlive(left > 1);  // the last request of a connection closes it
    bool closed = false;
    ok = process_request(stream, left == 1, closed, [](httplib::Request& request) {
      const auto found = request.headers.find("Content-Type");
      if (found == request.headers.end()) return;
      request.headers.emplace(kContentTypeHeader, found->second);
      request.headers.erase(found);
    });
    if (!ok || (closed && !stream.KeepAlive()) || stream.Dropped()) break;
  }
  ConnectionStream::SetCurrent(nullptr);
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace kqserver
