#include "app/updater/modUpdate.h"

#include "app/services/ProgramFolder.h"
#include "app/services/XmlFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cmath>

namespace {

QString ChildText(const pugi::xml_node& item, const char* name, bool* present) {
  const pugi::xml_node child = item.child(name);
  *present = static_cast<bool>(child);
  return QString::fromUtf8(child.text().get());
}

// A folder on the same server: a path that begins with "/" and holds no blanks or control
// characters, so the address built from it cannot name another host.
bool IsServerPath(const QString& path) {
  if (!path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\'))) return false;
  for (const QChar c : path) {
    if (c.isSpace() || c.category() == QChar::Other_Control) return false;
  }
  return true;
}

}  // namespace

UpdaterChoice ChooseUpdaterProgram(int windowsVersion) {
  if (windowsVersion >= kManifestWindowsVersion) {
    return {QStringLiteral("updater_manifest.zip"), QStringLiteral("kqUpdater_manifest")};
  }
  return {QStringLiteral("updater.zip"), QStringLiteral("kqUpdater")};
}

QString UpdateFolder() {
  return JoinPath(QDir::tempPath(), QString::fromLatin1(kUpdateFolderName));
}

bool IsPlainVersion(const QString& text) {
  static const QRegularExpression plain(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9})?$"));
  return plain.match(text).hasMatch();
}

bool VersionValue(const QString& text, float* value) {
  bool ok = false;
  const float number = text.trimmed().toFloat(&ok);
  if (!ok || !std::isfinite(number)) return false;
  *value = number;
  return true;
}

bool ParseFullPatch(const QString& text, bool* value) {
  const QString trimmed = text.trimmed();
  if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
    *value = true;
    return true;
  }
  if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
    *value = false;
    return true;
  }
  bool ok = false;
  const double number = trimmed.toDouble(&ok);
  if (!ok) return false;
  *value = number != 0;
  return true;
}

bool ParseVersionList(const pugi::xml_document& doc, const QString& ownVersion, CVerList* list) {
  float own = 0;
  if (!VersionValue(ownVersion, &own)) return false;
  const pugi::xml_node items = doc.document_element().child("list");
  if (!items) return false;
  for (const pugi::xml_node item : items.children("item")) {
    bool hasVer = false, hasPath = false, hasFull = false, hasLog = false, hasSha = false;
    const QString ver = ChildText(item, "ver", &hasVer).trimmed();
    const QString path = ChildText(item, "path", &hasPath).trimmed();
    const QString fullPatch = ChildText(item, "fullPatch", &hasFull);
    const QString log = ChildText(item, "log", &hasLog);
    const QString sha256 = ChildText(item, "sha256", &hasSha);
    if (!hasVer || !hasPath || !hasFull || !hasLog) return false;
    bool full = false;
    if (!ParseFullPatch(fullPatch, &full)) return false;
    // The version names a folder the patch is unpacked from, and the path an address on the
    // update server: anything else is left out rather than trusted.
    if (!IsPlainVersion(ver) || !IsServerPath(path)) continue;
    float value = 0;
    if (!VersionValue(ver, &value)) return false;
    if (value > own) list->Add(ver, path, fullPatch, log, sha256);
  }
  return true;
}

QString PackageSha256(const pugi::xml_document& doc, const QString& packageName) {
  const QByteArray name = packageName.toUtf8();
  for (const pugi::xml_node package : doc.document_element().children("package")) {
    if (name == package.attribute("name").value()) {
      return QString::fromUtf8(package.attribute("sha256").value()).trimmed().toLower();
    }
  }
  return {};
}

bool ShouldOffer(const QString& newVer, const QString& notifyDate, const QString& newestVer,
                 const QDateTime& now) {
  if (newVer.trimmed().isEmpty() || notifyDate.trimmed().isEmpty()) return true;
  float remembered = 0, newest = 0;
  if (!VersionValue(newVer, &remembered) || !VersionValue(newestVer, &newest)) return true;
  if (remembered < newest) return true;
  const QDateTime told = QDateTime::fromString(notifyDate.trimmed(), Qt::ISODate);
  if (!told.isValid()) return true;
  // Any other calendar day offers again; a date ahead of the clock (the clock was set back)
  // must not keep the offer away until that day comes.
  return told.date().daysTo(now.date()) != 0;
}

QString NotifyDateText(const QDateTime& when) {
  return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

int PatchCount(const CVerList& list) {
  for (int i = 1; i <= list.Count(); ++i) {
    if (list.Item(i).fullPatch) return i;
  }
  return list.Count();
}

QString LogBoxText(const CVerList& list) {
  const QString crlf = QStringLiteral("\r\n");
  QString text;
  for (int i = 1; i <= list.Count(); ++i) {
    const CVerItem& item = list.Item(i);
    text += item.ver + crlf;
    if (!item.log.isEmpty()) {
      QStringList lines;
      for (const QString& line : item.log.split(QLatin1Char('\n'))) {
        lines.append(QString(8, QLatin1Char(' ')) + line.trimmed());
      }
      text += lines.join(crlf) + crlf;
    }
    text += crlf;
  }
  return text;
}

SizeTexts FormatSizes(qint64 received, qint64 total) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB"};
  double r = static_cast<double>(received);
  double t = static_cast<double>(total);
  int unit = 0;
  while (unit < 3 && t / 1024.0 >= 1.0) {
    r /= 1024.0;
    t /= 1024.0;
    ++unit;
  }
  auto format = [](double value) {
    return value == 0 ? QString() : QString::number(value, 'f', 1);
  };
  return {format(r), format(t), QString::fromLatin1(kUnits[unit])};
}

QString UpdateServerBase(const QString& setting) {
  QString base = setting.trimmed();
  if (base.isEmpty()) return {};
  if (!base.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
    base = QStringLiteral("http://") + base;
  }
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  return base;
}

QString VersionListUrl(const QString& serverBase, bool draft) {
  return serverBase + QString::fromLatin1(kVerInfoPath) +
         (draft ? QString::fromLatin1(kDraftQuery) : QString());
}

bool CommandLineHas(const QStringList& arguments, const QString& option) {
  return arguments.mid(1).join(QLatin1Char(' ')).contains(option);
}

bool FileSha256(const QString& path, QString* hex) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file)) return false;
  *hex = QString::fromLatin1(hash.result().toHex());
  return true;
}

bool WriteVersionLines(const QString& path, const QStringList& versions) {
  QByteArray text;
  for (const QString& ver : versions) text += ver.toLatin1() + "\r\n";
  return WriteFileAtomically(path, text);
}

bool ReadVersionLines(const QString& path, QStringList* versions) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // A version list is a few short lines; anything larger is not one.
  constexpr qint64 kMaxBytes = 64 * 1024;
  const QByteArray bytes = file.read(kMaxBytes + 1);
  if (bytes.size() > kMaxBytes) return false;
  versions->clear();
  for (const QByteArray& line : bytes.split('\n')) {
    const QString ver = QString::fromLatin1(line).trimmed();
    if (!ver.isEmpty()) versions->append(ver);
  }
  return true;
}
