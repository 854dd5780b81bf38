#pragma once

#include <QString>

namespace cf::desktop {

// A desktop notification through org.freedesktop.Notifications on the session bus. Without a
// bus, or with no notification service on it, nothing is shown and Notify returns false, so the
// caller can tell the user another way.
class DesktopNotification {
 public:
  static bool Notify(const QString& appName, const QString& summary, const QString& body);
};

}  // namespace cf::desktop
