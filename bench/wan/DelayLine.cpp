// A userspace stand-in for a wide-area link, for kernels without netem: two TUN devices, each
// created inside a network namespace of its own, and every packet read from one written to the
// other after it has passed a rate-limited bottleneck queue and a fixed one-way delay. Loss is
// optional. Run as root by wan_bench.sh, never by a test.
//
//   delay_line --ns-a NAME --dev-a NAME --ns-b NAME --dev-b NAME
//              --delay-us N --rate-mbit N [--loss PERCENT] [--queue-ms N]
//
// Prints "ready" once both devices exist; stops on SIGINT or SIGTERM.

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

struct Options {
  std::string nsA, devA, nsB, devB;
  std::int64_t delayUs = 10000;
  double rateMbit = 100;
  double lossPercent = 0;
  std::int64_t queueMs = 0;  // 0: room for one bandwidth-delay product plus 64 KiB
};

// Creates the TUN device `name` inside the network namespace `ns` (a name under /var/run/netns)
// and returns its descriptor. The descriptor stays usable after we return to our own namespace.
int OpenTunIn(const std::string& ns, const std::string& name) {
  const int home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
  if (home < 0 || target < 0 || setns(target, CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "delay_line: cannot enter namespace %s: %s\n", ns.c_str(),
                 std::strerror(errno));
    return -1;
  }
  close(target);
  int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::snprintf(request.ifr_name, IFNAMSIZ, "%s", name.c_str());
  if (fd < 0 || ioctl(fd, TUNSETIFF, &request) != 0) {
    std::fprintf(stderr, "delay_line: cannot create %s: %s\n", name.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (setns(home, CLONE_NEWNET) != 0) std::abort();
  close(home);
  return fd;
}

struct Packet {
  Clock::time_point due;
  std::vector<char> bytes;
};

// One direction of the link: a FIFO bottleneck of `rate` that holds at most `queueLimit` of
// backlog, then `delay` of propagation. Packets leave in the order they came.
class Direction {
 public:
  Direction(int from, int to, const Options& options, std::uint32_t seed)
      : from_(from), to_(to), random_(seed) {
    delay_ = std::chrono::microseconds(options.delayUs);
    nanosPerByte_ = 8000.0 / options.rateMbit;
    loss_ = options.lossPercent / 100.0;
    const double bdpBytes = options.rateMbit * 1e6 / 8 * 2 * options.delayUs / 1e6;
    queueLimit_ = options.queueMs > 0
                      ? Nanos(options.queueMs * 1000000)
                      : Nanos(static_cast<std::int64_t>((bdpBytes + 65536) * nanosPerByte_));
  }

  // Takes every packet waiting on the source device.
  void Receive() {
    char buffer[65536];
    while (true) {
      const ssize_t got = read(from_, buffer, sizeof buffer);
      if (got <= 0) return;
      const Clock::time_point now = Clock::now();
      if (linkFree_ < now) linkFree_ = now;
      // Tail drop: a full bottleneck queue loses the packet, as a router would.
      if (linkFree_ - now > queueLimit_) {
        ++dropped_;
        continue;
      }
      if (loss_ > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < loss_) {
        ++dropped_;
        continue;
      }
      linkFree_ += Nanos(static_cast<std::int64_t>(static_cast<double>(got) * nanosPerByte_));
      queue_.push_back(Packet{linkFree_ + delay_, std::vector<char>(buffer, buffer + got)});
    }
  }

  // Delivers every packet whose time has come.
  void Deliver(Clock::time_point now) {
    while (!queue_.empty() && queue_.front().due <= now) {
      const std::vector<char>& bytes = queue_.front().bytes;
      // A full receive queue on the far side drops the packet, as a real link would.
      if (write(to_, bytes.data(), bytes.size()) < 0 && errno != EAGAIN) ++dropped_;
      queue_.pop_front();
    }
  }

  bool Empty() const { return queue_.empty(); }
  Clock::time_point NextDue() const { return queue_.front().due; }
  std::uint64_t Dropped() const { return dropped_; }

 private:
  int from_;
  int to_;
  Nanos delay_{};
  double nanosPerByte_ = 0;
  double loss_ = 0;
  Nanos queueLimit_{};
  Clock::time_point linkFree_{};
  std::deque<Packet> queue_;
  std::mt19937 random_;
  std::uint64_t dropped_ = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--ns-a") {
      options.nsA = value;
    } else if (name == "--dev-a") {
      options.devA = value;
    } else if (name == "--ns-b") {
      options.nsB = value;
    } else if (name == "--dev-b") {
      options.devB = value;
    } else if (name == "--delay-us") {
      options.delayUs = std::atoll(value);
    } else if (name == "--rate-mbit") {
      options.rateMbit = std::atof(value);
    } else if (name == "--loss") {
      options.lossPercent = std::atof(value);
    } else if (name == "--queue-ms") {
      options.queueMs = std::atoll(value);
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !options.nsA.empty() && !options.nsB.empty() && !options.devA.empty() &&
         !options.devB.empty() && options.rateMbit > 0 && options.delayUs >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: delay_line --ns-a NAME --dev-a NAME --ns-b NAME --dev-b NAME "
                 "--delay-us N --rate-mbit N [--loss PERCENT] [--queue-ms N]\n");
    return 2;
  }
  const int a = OpenTunIn(options.nsA, options.devA);
  const int b = OpenTunIn(options.nsB, options.devB);
  if (a < 0 || b < 0) return 1;
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  Direction forward(a, b, options, 1);
  Direction backward(b, a, options, 2);
  std::printf("ready\n");
  std::fflush(stdout);

  pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  while (!stopRequested) {
    const Clock::time_point now = Clock::now();
    forward.Deliver(now);
    backward.Deliver(now);
    Clock::time_point next = now + std::chrono::milliseconds(100);
    if (!forward.Empty()) next = std::min(next, forward.NextDue());
    if (!backward.Empty()) next = std::min(next, backward.NextDue());
    const auto wait = std::chrono::duration_cast<Nanos>(std::max(next - now, Nanos(0)));
    const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                           static_cast<long>(wait.count() % 1000000000)};
    if (ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) forward.Receive();
    if (fds[1].revents & POLLIN) backward.Receive();
  }
  std::fprintf(stderr, "delay_line: dropped %llu packets a->b, %llu b->a\n",
               static_cast<unsigned long long>(forward.Dropped()),
               static_cast<unsigned long long>(backward.Dropped()));
  close(a);
  close(b);
  return 0;
}
