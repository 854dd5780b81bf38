#include "upload_control/src/SharingSettings.h"

#include "platform/inet/HostPort.h"

#include <QSettings>

namespace kqmavo2 {

SharingSettings SharingSettings::Load() {
  SharingSettings loaded;
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  const auto read = [&settings](const char* key, QString* value) {
    const QVariant stored = settings.value(QStringLiteral("clipFerry/") + QLatin1String(key));
    if (stored.isValid()) *value = stored.toString().trimmed();
  };
  read("sharingLoginHost", &loaded.loginHost);
  read("sharingDataHost", &loaded.dataHost);
  read("sharingUploadHost", &loaded.uploadHost);
  read("sharingAtomNamespace", &loaded.atomNamespace);
  read("sharingMediaNamespace", &loaded.mediaNamespace);
  read("sharingNamespace", &loaded.sharingNamespace);
  read("sharingCategoryScheme", &loaded.categoryScheme);
  read("sharingTrustFile", &loaded.trustFile);
  QString key;
  read("sharingDeveloperKey", &key);
  loaded.developerKey = key.toLatin1();
  return loaded;
}

QByteArray SharingSettings::UploadAddress() const {
  if (uploadHost.isEmpty()) return QByteArray();
  return "http://" + uploadHost.toUtf8() + kUploadPath;
}

bool SharingSettings::SplitHost(const QString& text, std::uint16_t defaultPort, QString* host,
                                std::uint16_t* port) {
  const QByteArray utf8 = text.trimmed().toUtf8();
  inet::HostPort parsed;
  std::string error;
  if (!inet::HostPort::Parse(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())),
                             parsed, error)) {
    return false;
  }
  *host = QString::fromStdString(parsed.host);
  *port = parsed.port != 0 ? parsed.port : defaultPort;
  return true;
}

}  // namespace kqmavo2
