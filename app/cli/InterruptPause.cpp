#include "app/cli/InterruptPause.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace {

volatile std::sig_atomic_t gWriteFd = -1;

void OnSigint(int) {
  const int fd = gWriteFd;
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

InterruptPause::InterruptPause(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(fds_[1], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(fds_[1], &byte, 1);
    notifier_->setEnabled(false);
    if (onInterrupt_) onInterrupt_();
  });
  gWriteFd = fds_[0];
  std::signal(SIGINT, OnSigint);
}

InterruptPause::~InterruptPause() {
  std::signal(SIGINT, SIG_DFL);
  gWriteFd = -1;
  notifier_.reset();
  for (const int fd : fds_) {
    if (fd >= 0) ::close(fd);
  }
}
