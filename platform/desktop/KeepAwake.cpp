#include "platform/desktop/KeepAwake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace cf::desktop {
namespace {

constexpr int kBusTimeoutMs = 1000;

bool HasService(const QDBusConnection& bus, const char* name) {
  if (!bus.isConnected() || bus.interface() == nullptr) return false;
  const QDBusReply<bool> reply = bus.interface()->isServiceRegistered(QString::fromLatin1(name));
  return reply.isValid() && reply.value();
}

}  // namespace

KeepAwake::KeepAwake(const QString& reason) {
  const QString app = QCoreApplication::applicationName();
  const QDBusConnection session = QDBusConnection::sessionBus();
  if (HasService(session, "org.freedesktop.ScreenSaver")) {
    QDBusInterface saver(QStringLiteral("org.freedesktop.ScreenSaver"),
                         QStringLiteral("/org/freedesktop/ScreenSaver"),
                         QStringLiteral("org.freedesktop.ScreenSaver"), session);
    saver.setTimeout(kBusTimeoutMs);
    const QDBusReply<quint32> cookie = saver.call(QStringLiteral("Inhibit"), app, reason);
    if (cookie.isValid()) screenSaverCookie_ = cookie.value();
  }
  const QDBusConnection system = QDBusConnection::systemBus();
  if (HasService(system, "org.freedesktop.login1")) {
    QDBusInterface login(QStringLiteral("org.freedesktop.login1"),
                         QStringLiteral("/org/freedesktop/login1"),
                         QStringLiteral("org.freedesktop.login1.Manager"), system);
    login.setTimeout(kBusTimeoutMs);
    const QDBusReply<QDBusUnixFileDescriptor> fd =
        login.call(QStringLiteral("Inhibit"), QStringLiteral("sleep:idle"), app, reason,
                   QStringLiteral("block"));
    // The inhibitor lasts as long as this duplicate of the descriptor stays open.
    if (fd.isValid() && fd.value().isValid()) sleepFd_ = ::dup(fd.value().fileDescriptor());
  }
}

KeepAwake::~KeepAwake() {
  if (screenSaverCookie_ != 0) {
    QDBusInterface saver(QStringLiteral("org.freedesktop.ScreenSaver"),
                         QStringLiteral("/org/freedesktop/ScreenSaver"),
                         QStringLiteral("org.freedesktop.ScreenSaver"),
                         QDBusConnection::sessionBus());
    saver.setTimeout(kBusTimeoutMs);
    saver.call(QStringLiteral("UnInhibit"), screenSaverCookie_);
  }
  if (sleepFd_ >= 0) ::close(sleepFd_);
}

}  // namespace cf::desktop
