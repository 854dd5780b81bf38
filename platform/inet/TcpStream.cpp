#include "platform/inet/TcpStream.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
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

// Rounded up, so a wait never ends just short of its end; 0 once it has passed.
int RemainingMs(Clock::time_point deadline) {
  const Clock::time_point now = Clock::now();
  if (deadline <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left, INT_MAX));
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

bool TcpStream::IdleAndOpen() const {
  if (fd_ < 0) return false;
  pollfd ready{fd_, POLLIN | POLLRDHUP, 0};
  return ::poll(&ready, 1, 0) == 0;
}

TcpStream::Status TcpStream::Wait(short events, int timeoutMs) {
  const Clock::time_point ownEnd = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const Clock::time_point end = std::min(ownEnd, deadline_);
  while (true) {
    if (PastDeadline()) return Status::kDeadline;
    pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t count = wakeFd_ >= 0 ? 2 : 1;
    const int ready = ::poll(fds, count, RemainingMs(end));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Status::kBroken;
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) return Status::kAborted;
    if (ready == 0) {
      if (PastDeadline()) return Status::kDeadline;
      if (Clock::now() >= ownEnd) return Status::kTimeout;
    }
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
    if (waited == Status::kAborted || waited == Status::kDeadline) {
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
  } else if (status == Status::kDeadline) {
    error = kDeadlineText;
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
    // A peer that takes a little now and then must not stretch the exchange past its deadline.
    if (PastDeadline()) {
      error = kDeadlineText;
      return Status::kDeadline;
    }
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
        error = waited == Status::kDeadline ? kDeadlineText : "waiting to send failed";
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
    if (PastDeadline()) {
      error = kDeadlineText;
      return Status::kDeadline;
    }
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
        error = waited == Status::kDeadline ? kDeadlineText : "waiting for the answer failed";
        return waited;
      }
      continue;
    }
    error = "receiving from the server failed (" + ErrnoText(errno) + ")";
    return Status::kBroken;
  }
}

}  // namespace inet
