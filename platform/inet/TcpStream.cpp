#include "platform/inet/TcpStream.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace inet {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

TcpStream::TcpStream(int wakeFd) : wakeFd_(wakeFd) {}

TcpStream::~TcpStream() { Close(); }

void TcpStream::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

TcpStream::Status TcpStream::Wait(short events, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t count = wakeFd_ >= 0 ? 2 : 1;
    const int ready = ::poll(fds, count, RemainingMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Status::kBroken;
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) return Status::kAborted;
    if (ready == 0) return Status::kTimeout;
    // Errors and hang-ups are reported by the send or receive call that follows.
    if (fds[0].revents != 0) return Status::kOk;
  }
}

TcpStream::Status TcpStream::Connect(const std::string& host, std::uint16_t port, int timeoutMs,
                                     std::string& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  const std::string service = std::to_string(port);
  const int lookup = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses);
  if (lookup != 0) {
    error = "the server name \"" + host + "\" could not be resolved (" + gai_strerror(lookup) + ")";
    return Status::kResolve;
  }

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Status status = Status::kConnect;
  int lastErrno = 0;
  for (addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    fd_ = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                   address->ai_protocol);
    if (fd_ < 0) {
      lastErrno = errno;
      continue;
    }
    if (::connect(fd_, address->ai_addr, address->ai_addrlen) == 0) {
      status = Status::kOk;
      break;
    }
    if (errno != EINPROGRESS) {
      lastErrno = errno;
      Close();
      continue;
    }
    const Status waited = Wait(POLLOUT, RemainingMs(deadline));
    if (waited == Status::kAborted) {
      status = waited;
      Close();
      break;
    }
    if (waited == Status::kTimeout) {
      status = Status::kTimeout;
      lastErrno = ETIMEDOUT;
      Close();
      if (RemainingMs(deadline) == 0) break;
      continue;
    }
    int socketError = 0;
    socklen_t length = sizeof(socketError);
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &socketError, &length) == 0 && socketError == 0) {
      status = Status::kOk;
      break;
    }
    lastErrno = socketError != 0 ? socketError : errno;
    status = Status::kConnect;
    Close();
  }
  ::freeaddrinfo(addresses);

  if (status == Status::kOk) {
    // Small writes (form parts) are not held back waiting for an acknowledgement.
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return status;
  }
  if (status == Status::kAborted) {
    error = "the request was aborted";
  } else if (status == Status::kTimeout) {
    error = "the connection to " + host + " port " + std::to_string(port) + " timed out";
  } else {
    error = "the connection to " + host + " port " + std::to_string(port) + " failed (" +
            ErrnoText(lastErrno) + ")";
  }
  return status;
}

TcpStream::Status TcpStream::SendAll(const char* data, std::size_t length, int timeoutMs,
                                     std::string& error) {
  if (fd_ < 0) {
    error = "the connection is closed";
    return Status::kClosed;
  }
  std::size_t sent = 0;
  while (sent < length) {
    const ssize_t n = ::send(fd_, data + sent, length - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const Status waited = Wait(POLLOUT, timeoutMs);
      if (waited == Status::kTimeout) {
        error = "sending to the server timed out";
        return waited;
      }
      if (waited == Status::kAborted) {
        error = "the request was aborted";
        return waited;
      }
      if (waited != Status::kOk) {
        error = "waiting to send failed";
        return waited;
      }
      continue;
    }
    error = "sending to the server failed (" + ErrnoText(n < 0 ? errno : EPIPE) + ")";
    return Status::kBroken;
  }
  return Status::kOk;
}

TcpStream::Status TcpStream::Receive(char* buffer, std::size_t capacity, std::size_t& received,
                                     int timeoutMs, std::string& error) {
  received = 0;
  if (fd_ < 0) {
    error = "the connection is closed";
    return Status::kClosed;
  }
  while (true) {
    const ssize_t n = ::recv(fd_, buffer, capacity, 0);
    if (n >= 0) {
      received = static_cast<std::size_t>(n);
      return Status::kOk;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const Status waited = Wait(POLLIN, timeoutMs);
      if (waited == Status::kTimeout) {
        error = "no answer from the server within " + std::to_string(timeoutMs) + " ms";
        return waited;
      }
      if (waited == Status::kAborted) {
        error = "the request was aborted";
        return waited;
      }
      if (waited != Status::kOk) {
        error = "waiting for the answer failed";
        return waited;
      }
      continue;
    }
    error = "receiving from the server failed (" + ErrnoText(errno) + ")";
    return Status::kBroken;
  }
}

}  // namespace inet
