#pragma once

#include <QString>

namespace cf::desktop {

// Keeps the machine and the display awake while it lives: inhibitors from the session's screen
// saver (display) and from logind (sleep), released on destruction. Without a session or system
// bus it silently does nothing.
class KeepAwake {
 public:
  explicit KeepAwake(const QString& reason);
  ~KeepAwake();
  KeepAwake(const KeepAwake&) = delete;
  KeepAwake& operator=(const KeepAwake&) = delete;

  bool displayInhibited() const { return screenSaverCookie_ != 0; }
  bool sleepInhibited() const { return sleepFd_ >= 0; }

 private:
  quint32 screenSaverCookie_ = 0;
  int sleepFd_ = -1;
};

}  // namespace cf::desktop
