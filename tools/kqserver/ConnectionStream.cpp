#include "tools/kqserver/ConnectionStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kqserver {

namespace {

constexpr size_t kReadBufferSize = 65536;
constexpr size_t kDirectRead = 16384;

thread_local ConnectionStream* tCurrent = nullptr;

void AddressText(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
}

}  // namespace

ConnectionStream::ConnectionStream(int socket, int readTimeoutMs, int writeTimeoutMs)
    : socket_(socket),
      readTimeoutMs_(readTimeoutMs),
      writeTimeoutMs_(writeTimeoutMs),
      readBuffer_(kReadBufferSize) {}

ConnectionStream* ConnectionStream::Current() { return tCurrent; }

void ConnectionStream::SetCurrent(ConnectionStream* stream) { tCurrent = stream; }

bool ConnectionStream::Poll(short events, int timeoutMs) const {
  pollfd entry{socket_, events, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

bool ConnectionStream::is_readable() const {
  if (dropped_) return false;
  return readBegin_ < readEnd_ || Poll(POLLIN, readTimeoutMs_);
}

bool ConnectionStream::is_writable() const { return !dropped_ && Poll(POLLOUT, writeTimeoutMs_); }

bool ConnectionStream::WaitForRequest(int timeoutMs) const {
  if (dropped_) return false;
  return readBegin_ < readEnd_ || Poll(POLLIN, timeoutMs);
}

ConnectionStream::Head ConnectionStream::ReadHead(int deadlineMs, size_t maxHeaderLines) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  // The head must fit the buffer in one piece, so what is left of the last request moves to the
  // front.
  if (readBegin_ > 0) {
    std::memmove(readBuffer_.data(), readBuffer_.data() + readBegin_, readEnd_ - readBegin_);
    readEnd_ -= readBegin_;
    readBegin_ = 0;
  }
  size_t scanned = 0;
  size_t lines = 0;  // the request line, the header lines and the blank line
  for (;;) {
    for (; scanned < readEnd_; ++scanned) {
      if (readBuffer_[scanned] != '\n') continue;
      if (scanned >= 3 && std::memcmp(readBuffer_.data() + scanned - 3, "\r\n\r\n", 4) == 0) {
        return Head::kComplete;
      }
      if (++lines > maxHeaderLines + 1) return Head::kTooLarge;
    }
    if (readEnd_ == readBuffer_.size()) return Head::kTooLarge;
    if (dropped_) return Head::kClosed;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || !Poll(POLLIN, static_cast<int>(left))) return Head::kTimedOut;
    ssize_t received;
    do {
      received = ::recv(socket_, readBuffer_.data() + readEnd_, readBuffer_.size() - readEnd_, 0);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) return Head::kClosed;
    bytesIn_ += static_cast<uint64_t>(received);
    readEnd_ += static_cast<size_t>(received);
  }
}

void ConnectionStream::BeginBody(int graceMs, uint64_t bytesPerSecond) {
  bodyRate_ = bytesPerSecond;
  bodyGraceMs_ = graceMs;
  bodyBytes_ = 0;
  bodyWaited_ = {};
  tooSlow_ = false;
}

int64_t ConnectionStream::BodyBudgetMs() const {
  if (bodyRate_ == 0) return readTimeoutMs_;
  const int64_t earned = bodyGraceMs_ + static_cast<int64_t>(bodyBytes_ * 1000 / bodyRate_);
  const int64_t waited = std::chrono::duration_cast<std::chrono::milliseconds>(bodyWaited_).count();
  return std::min<int64_t>(readTimeoutMs_, earned - waited);
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
  if (dropped_) return -1;
  if (readBegin_ == readEnd_) {
    const int64_t budget = BodyBudgetMs();
    const auto waitStart = std::chrono::steady_clock::now();
    const bool ready = budget > 0 && Poll(POLLIN, static_cast<int>(budget));
    bodyWaited_ += std::chrono::steady_clock::now() - waitStart;
    if (!ready) {
      // Out of time: either the plain read time-out or the body fell below its pace.
      if (bodyRate_ != 0 && budget < readTimeoutMs_) tooSlow_ = true;
      return -1;
    }
    // A caller that asks for a buffer's worth (a body being read) gets the bytes straight from
    // the socket; small reads (header lines) go through the buffer.
    const bool direct = size >= kDirectRead;
    char* target = direct ? ptr : readBuffer_.data();
    ssize_t received;
    do {
      received = ::recv(socket_, target, direct ? size : readBuffer_.size(), 0);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) return received < 0 ? -1 : 0;
    bytesIn_ += static_cast<uint64_t>(received);
    bodyBytes_ += static_cast<uint64_t>(received);
    if (direct) return received;
    readBegin_ = 0;
    readEnd_ = static_cast<size_t>(received);
  }
  const size_t count = std::min(size, readEnd_ - readBegin_);
  std::memcpy(ptr, readBuffer_.data() + readBegin_, count);
  readBegin_ += count;
  return static_cast<ssize_t>(count);
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
  if (dropped_) return -1;
  if (!Poll(POLLOUT, writeTimeoutMs_)) return -1;
  ssize_t sent;
  do {
    sent = ::send(socket_, ptr, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent > 0) bytesOut_ += static_cast<uint64_t>(sent);
  return sent < 0 ? -1 : sent;
}

bool ConnectionStream::WriteRaw(const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    const ssize_t sent = write(bytes.data() + offset, bytes.size() - offset);
    if (sent <= 0) return false;
    offset += static_cast<size_t>(sent);
  }
  return true;
}

void ConnectionStream::Drop() {
  if (dropped_.exchange(true)) return;
  ::shutdown(socket_, SHUT_RDWR);
}

void ConnectionStream::ResetCounters() {
  bytesIn_ = 0;
  bytesOut_ = 0;
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    AddressText(address, ip, port);
  }
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    AddressText(address, ip, port);
  }
}

}  // namespace kqserver
