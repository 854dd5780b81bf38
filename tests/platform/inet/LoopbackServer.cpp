#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

// Only a guard against a broken client hanging the suite; no test depends on it.
constexpr int kGuardMs = 20000;

bool WaitReadable(int fd, int stopFd) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  return ::poll(fds, 2, kGuardMs) > 0 && (fds[1].revents & POLLIN) == 0;
}

std::size_t ContentLength(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\ncontent-length:");
  return at == std::string::npos ? 0 : std::stoul(head.substr(at + 17));
}

}  // namespace

LoopbackServer::LoopbackServer(Handler handler, bool ipv6) : handler_(std::move(handler)) {
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address{};
  socklen_t length = 0;
  if (ipv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    length = sizeof(sockaddr_in6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(sockaddr_in);
  }
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return;
  }
  port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  listenFd_ = fd;
  thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
  ::eventfd_write(stopFd_, 1);
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
  ::close(stopFd_);
}

void LoopbackServer::Run() {
  while (WaitReadable(listenFd_, stopFd_)) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Connection connection(*this, fd);
    handler_(connection);
    ::close(fd);
  }
}

void LoopbackServer::Record(std::string bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(std::move(bytes));
}

std::vector<std::string> LoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

LoopbackServer::Handler LoopbackServer::Answer(std::string answer) {
  return [answer](Connection& connection) {
    connection.ReadRequest();
    connection.Send(answer);
  };
}

std::uint16_t LoopbackServer::FreePort() {
  LoopbackServer server([](Connection&) {});
  return server.Port();
}

std::string LoopbackServer::Connection::ReadRequest() {
  std::string bytes;
  std::size_t wanted = std::string::npos;
  char buffer[65536];
  while (bytes.size() < wanted && WaitReadable(fd_, server_.stopFd_)) {
    const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    const std::size_t end = bytes.find("\r\n\r\n");
    if (wanted == std::string::npos && end != std::string::npos) {
      wanted = end + 4 + ContentLength(bytes.substr(0, end + 2));
    }
  }
  server_.Record(bytes);
  return bytes;
}

void LoopbackServer::Connection::Send(std::string_view bytes) {
  ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

bool LoopbackServer::Connection::SendForever(std::string_view piece) {
  while (true) {
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {server_.stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, kGuardMs) <= 0 || (fds[1].revents & POLLIN) != 0) return true;
    if (::send(fd_, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) return false;
  }
}

void LoopbackServer::Connection::WaitForClose() {
  char buffer[4096];
  while (WaitReadable(fd_, server_.stopFd_) && ::recv(fd_, buffer, sizeof(buffer), 0) > 0) {
  }
}

namespace {

// Waits up to timeoutMs for the client to close its side; true when it did or the server stops.
bool ClientGone(int fd, int stopFd, int timeoutMs) {
  pollfd fds[2] = {{fd, POLLRDHUP, 0}, {stopFd, POLLIN, 0}};
  if (::poll(fds, 2, timeoutMs) <= 0) return false;
  return (fds[1].revents & POLLIN) != 0 || (fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace

void LoopbackServer::Connection::Drip(std::string_view bytes, int gapMs) {
  for (const char byte : bytes) {
    if (::send(fd_, &byte, 1, MSG_NOSIGNAL) != 1) return;
    if (ClientGone(fd_, server_.stopFd_, gapMs)) return;
  }
}

void LoopbackServer::Connection::HoldUnread() { ClientGone(fd_, server_.stopFd_, kGuardMs); }
