#include "tests/upload_control/RawHttpListener.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace {

// Waits up to `ms` for the socket to become readable; false on time-out.
bool WaitReadable(int socket, int ms) {
  pollfd fd{socket, POLLIN, 0};
  return poll(&fd, 1, ms) > 0;
}

}  // namespace

QByteArray RawHttpListener::Request::Path() const {
  const QList<QByteArray> words = RequestLine().split(' ');
  return words.size() >= 2 ? words.at(1) : QByteArray();
}

QByteArray RawHttpListener::Request::Header(const QByteArray& name) const {
  for (const QByteArray& line : head.split('\n')) {
    const qsizetype colon = line.indexOf(':');
    if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
      return line.mid(colon + 1).trimmed();
  }
  return {};
}

std::vector<std::pair<QByteArray, QByteArray>> RawHttpListener::Request::FormFields() const {
  std::vector<std::pair<QByteArray, QByteArray>> fields;
  const QByteArray marker = "Content-Disposition: form-data;name=\"";
  qsizetype at = 0;
  while ((at = body.indexOf(marker, at)) >= 0) {
    const qsizetype nameStart = at + marker.size();
    const qsizetype nameEnd = body.indexOf('"', nameStart);
    const qsizetype valueStart = body.indexOf("\r\n\r\n", nameEnd) + 4;
    const qsizetype valueEnd = body.indexOf("\r\n--", valueStart);
    fields.emplace_back(body.mid(nameStart, nameEnd - nameStart),
                        body.mid(valueStart, valueEnd - valueStart));
    at = valueEnd;
  }
  return fields;
}

RawHttpListener::RawHttpListener(Responder responder) : responder_(std::move(responder)) {
  listenSocket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (listenSocket_ < 0 ||
      bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listenSocket_, 16) != 0 ||
      getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

RawHttpListener::~RawHttpListener() {
  stopping_ = true;
  acceptor_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard guard(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
  close(listenSocket_);
}

QString RawHttpListener::Url(const QString& path) const {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
}

std::vector<RawHttpListener::Request> RawHttpListener::Requests() const {
  std::lock_guard guard(mutex_);
  return requests_;
}

std::vector<RawHttpListener::Request> RawHttpListener::Abandoned() const {
  std::lock_guard guard(mutex_);
  return abandoned_;
}

bool RawHttpListener::WaitForAbandoned(std::size_t count) const {
  std::unique_lock lock(mutex_);
  return abandonedChanged_.wait_for(lock, std::chrono::seconds(30),
                                    [&] { return abandoned_.size() >= count; });
}

QByteArray RawHttpListener::Answer(int status, const QByteArray& body, bool withLength) {
  QByteArray answer =
      "HTTP/1.0 " + QByteArray::number(status) + " Status\r\nContent-Type: text/xml\r\n";
  if (withLength) answer += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
  return answer + "\r\n" + body;
}

void RawHttpListener::AcceptLoop() {
  while (!stopping_) {
    if (!WaitReadable(listenSocket_, 50)) continue;
    const int connection = accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    const int ordinal = ++accepted_;
    const int now = ++active_;
    int seen = maxConcurrent_.load();
    while (now > seen && !maxConcurrent_.compare_exchange_weak(seen, now)) {
    }
    std::lock_guard guard(mutex_);
    connections_.emplace_back([this, connection, ordinal] {
      Serve(connection, ordinal);
      close(connection);
    });
  }
}

void RawHttpListener::Serve(int socket, int connection) {
  // A request counts as in flight from its connection until its answer starts: a client that
  // waits for one answer before its next request never has two in flight.
  struct InFlight {
    std::atomic<int>& active;
    bool counted = true;
    void End() {
      if (counted) --active;
      counted = false;
    }
    ~InFlight() { End(); }
  } inFlight{active_};
  Request request;
  request.connection = connection;
  qsizetype headEnd = -1;
  qint64 wanted = -1;
  char buffer[65536];
  for (int carried = 0;; ++carried) {
    request.onConnection = carried;
    while (!stopping_) {
      if (headEnd >= 0 && request.raw.size() - (headEnd + 4) >= wanted) break;
      if (!WaitReadable(socket, 50)) continue;
      const ssize_t got = recv(socket, buffer, sizeof(buffer), 0);
      if (got <= 0) {
        if (headEnd >= 0) {
          request.body = request.raw.mid(headEnd + 4);
          std::lock_guard guard(mutex_);
          abandoned_.push_back(request);
          abandonedChanged_.notify_all();
        }
        return;
      }
      request.raw.append(buffer, got);
      if (headEnd < 0 && (headEnd = request.raw.indexOf("\r\n\r\n")) >= 0) {
        request.head = request.raw.left(headEnd);
        const QByteArray length = request.Header("Content-Length");
        wanted = length.isNull() ? 0 : length.toLongLong();
        if (onHead) onHead(request.head);
      }
    }
    if (headEnd < 0) return;
    request.body = request.raw.mid(headEnd + 4);
    const int index = nextIndex_++;
    {
      std::lock_guard guard(mutex_);
      requests_.push_back(request);
    }
    const Reply reply = responder_(request, index);
    inFlight.End();
    if (reply.closeOnly) return;
    if (reply.keepOpen) {
      send(socket, reply.bytes.constData(), static_cast<size_t>(reply.bytes.size()), MSG_NOSIGNAL);
      // Bytes beyond this request's body already belong to the next one.
      const QByteArray rest = request.raw.mid(headEnd + 4 + wanted);
      request = Request{};
      request.connection = connection;
      request.raw = rest;
      headEnd = wanted = -1;
      if ((headEnd = request.raw.indexOf("\r\n\r\n")) >= 0) {
        request.head = request.raw.left(headEnd);
        const QByteArray length = request.Header("Content-Length");
        wanted = length.isNull() ? 0 : length.toLongLong();
      }
      continue;
    }
    if (reply.hold) {
      // Keep the connection open without a word until the client leaves or the test ends.
      while (!stopping_) {
        if (WaitReadable(socket, 50) && recv(socket, buffer, sizeof(buffer), MSG_DONTWAIT) <= 0)
          return;
      }
      return;
    }
    if (reply.dripMs > 0) {
      for (const char byte : reply.bytes) {
        if (stopping_ || send(socket, &byte, 1, MSG_NOSIGNAL) != 1) return;
        // A client that gave up closes its side; there is no one left to drip to.
        pollfd fd{socket, POLLRDHUP, 0};
        if (poll(&fd, 1, reply.dripMs) > 0) return;
      }
    } else {
      send(socket, reply.bytes.constData(), static_cast<size_t>(reply.bytes.size()), MSG_NOSIGNAL);
    }
    if (reply.endless) {
      const QByteArray filler(65536, 'x');
      while (!stopping_) {
        pollfd fd{socket, POLLOUT, 0};
        if (poll(&fd, 1, 50) <= 0) continue;
        if (send(socket, filler.constData(), static_cast<size_t>(filler.size()),
                 MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN) {
          break;
        }
      }
    }
    shutdown(socket, SHUT_WR);
    // Let the client read everything before the socket goes.
    while (!stopping_ && WaitReadable(socket, 50)) {
      if (recv(socket, buffer, sizeof(buffer), 0) <= 0) break;
    }
    return;
  }
}

std::map<QByteArray, QByteArray> Fields(const RawHttpListener::Request& request) {
  std::map<QByteArray, QByteArray> fields;
  for (const auto& [name, value] : request.FormFields()) fields[name] = value;
  return fields;
}

QByteArray FileData(const RawHttpListener::Request& request) {
  const QByteArray header =
      "filename=\"mavofile.zip\"\r\nContent-Transfer-encoding: Binary\r\n\r\n";
  const qsizetype start = request.body.indexOf(header);
  const QByteArray closing = "\r\n--Qu1llbox5_Xu02=$--";
  if (start < 0 || !request.body.endsWith(closing)) return "<malformed>";
  const qsizetype from = start + header.size();
  return request.body.mid(from, request.body.size() - closing.size() - from);
}
