#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Turns the first Ctrl+C (SIGINT) of a run into a call on the event loop's thread, so the run can
// pause its upload and end cleanly. The handler gives SIGINT back to the system as it fires, so a
// second Ctrl+C ends the program at once. One at a time; SIGINT gets its default back with it.
class InterruptPause {
 public:
  explicit InterruptPause(std::function<void()> onInterrupt);
  ~InterruptPause();
  InterruptPause(const InterruptPause&) = delete;
  InterruptPause& operator=(const InterruptPause&) = delete;

 private:
  std::function<void()> onInterrupt_;
  std::unique_ptr<QSocketNotifier> notifier_;
  int fds_[2] = {-1, -1};
};
