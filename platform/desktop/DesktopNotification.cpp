#include "platform/desktop/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace cf::desktop {
namespace {

// A notification service may first have to be started by the bus.
constexpr int kBusTimeoutMs = 2000;
// Let the service choose how long the notification stays.
constexpr int kServerTimeout = -1;

}  // namespace

bool DesktopNotification::Notify(const QString& appName, const QString& summary,
                                 const QString& body) {
  const QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
  call << appName << 0U << QString() << summary << body << QStringList() << QVariantMap()
       << kServerTimeout;
  const QDBusMessage reply = bus.call(call, QDBus::Block, kBusTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace cf::desktop
