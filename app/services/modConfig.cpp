#include "app/services/modConfig.h"

#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/XmlFile.h"
#include "app/services/modGlobal.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <pugixml.hpp>

bool LoadServerProfile(ServerProfile* profile) {
  const QString section = QString::fromLatin1(kSettingsSection);
  profile->serverAddress = NormalizeServerAddress(
      ReadSetting(section, QStringLiteral("serverIP"), QStringLiteral("127.0.0.1")));
  profile->account = ReadSetting(section, QStringLiteral("account"), QString());
  profile->password = ReadSetting(section, QStringLiteral("password"), QString());
  profile->folderID = ReadSetting(section, QStringLiteral("folderID"), QStringLiteral("1"));
  profile->folderName = ReadSetting(section, QStringLiteral("folderName"), QStringLiteral("test"));
  return !profile->account.isEmpty() && !profile->password.isEmpty();
}

bool ReadProjectProfile(const QString& folder, ProjectProfile* profile) {
  *profile = ProjectProfile{};
  const QString path = JoinPath(folder, QString::fromLatin1(kProjectProfileName));
  if (GetFileSize(path) <= 9) {
    DeleteFileForce(path);
    return false;
  }
  pugi::xml_document doc;
  if (!LoadXmlFile(path, &doc)) return false;
  const pugi::xml_node server = doc.document_element().child("server");
  if (!server) return false;
  profile->url = NormalizeServerAddress(QString::fromUtf8(server.child("url").text().get()));
  profile->folderID = QString::fromUtf8(server.child("folderID").text().get());
  profile->contentID = QString::fromUtf8(server.child("contentID").text().get());
  if (profile->contentID.isEmpty()) profile->contentID = QStringLiteral("0");
  return true;
}

bool WriteProjectProfile(const QString& folder, const QString& url, const QString& folderID,
                         const QString& contentID) {
  const QString path = JoinPath(folder, QString::fromLatin1(kProjectProfileName));
  pugi::xml_document doc;
  if (!LoadXmlFile(path, &doc)) return false;
  const pugi::xml_node server = doc.document_element().child("server");
  if (!server) return false;
  const auto set = [&](const char* name, const QString& value) {
    pugi::xml_node node = server.child(name);
    if (node) node.text().set(value.toUtf8().constData());
  };
  set("url", url);
  set("folderID", folderID);
  set("contentID", contentID);
  return SaveXmlWithLineBreaks(doc, path);
}

QString NormalizeServerAddress(const QString& text) {
  QString address = text.trimmed();
  address.remove(QStringLiteral("http://"));
  if (address.startsWith(QLatin1String("https://"))) address.remove(QStringLiteral("https://"));
  return address;
}

QString GetDefaultProjectVersion() {
  static QMutex mutex;
  static bool loaded = false;
  static QString version;
  QMutexLocker lock(&mutex);
  if (!loaded) {
    pugi::xml_document doc;
    if (LoadXmlFile(JoinPath(ProgramFolder(), QStringLiteral("default.kqp")), &doc)) {
      version = QString::fromUtf8(doc.document_element().attribute("ver").value());
      loaded = true;
    }
  }
  return version;
}

int GetWindowsVersion() { return 61; }

int LogicalProcessorCount() { return QThread::idealThreadCount(); }

bool HighSpeedAvailable(int processors) { return processors > 2; }
