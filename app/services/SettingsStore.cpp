#include "app/services/SettingsStore.h"

#include <QFile>
#include <QSettings>

namespace {

QString SettingsKey(const QString& section, const QString& key) {
  return section + QLatin1Char('/') + key;
}

// The settings file may hold a password: only its owner may read it.
void RestrictToOwner(const QSettings& settings) {
  QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

void Store(const QString& section, const QString& key, const QString& stored) {
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  settings.setValue(SettingsKey(section, key), stored);
  settings.sync();
  RestrictToOwner(settings);
}

QString Load(const QString& section, const QString& key, const QString& fallback) {
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  const QVariant value = settings.value(SettingsKey(section, key));
  return value.isValid() ? value.toString() : fallback;
}

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  return -1;
}

}  // namespace

QString EncodeSettingValue(const QString& value) {
  if (value.isEmpty()) return {};
  QString encoded = QStringLiteral("&H");
  encoded.reserve(2 + value.size() * 4);
  static const char kDigits[] = "0123456789ABCDEF";
  for (const QChar c : value) {
    const char16_t unit = c.unicode();
    for (const int byte : {unit & 0xFF, unit >> 8}) {
      encoded.append(QLatin1Char(kDigits[byte >> 4]));
      encoded.append(QLatin1Char(kDigits[byte & 0xF]));
    }
  }
  return encoded;
}

bool DecodeSettingValue(const QString& stored, QString* value) {
  if (!stored.startsWith(QLatin1String("&H"))) return false;
  const QStringView hex = QStringView(stored).mid(2);
  // Whole UTF-16 code units only: four digits each.
  if (hex.size() % 4 != 0) return false;
  QString decoded;
  decoded.reserve(hex.size() / 4);
  for (qsizetype i = 0; i < hex.size(); i += 4) {
    int digits[4];
    for (int d = 0; d < 4; ++d) {
      digits[d] = HexDigit(hex[i + d]);
      if (digits[d] < 0) return false;
    }
    const int low = digits[0] * 16 + digits[1];
    const int high = digits[2] * 16 + digits[3];
    decoded.append(QChar(static_cast<char16_t>(high << 8 | low)));
  }
  *value = decoded;
  return true;
}

QString ReadSetting(const QString& section, const QString& key, const QString& fallback) {
  const QString stored = Load(section, key, fallback);
  if (stored.size() < 3) return fallback;
  if (!stored.startsWith(QLatin1String("&H"))) return stored;
  QString value;
  return DecodeSettingValue(stored, &value) ? value : fallback;
}

void WriteSetting(const QString& section, const QString& key, const QString& value) {
  Store(section, key, EncodeSettingValue(value));
}

QString ReadPlainSetting(const QString& section, const QString& key, const QString& fallback) {
  return Load(section, key, fallback);
}

void WritePlainSetting(const QString& section, const QString& key, const QString& value) {
  Store(section, key, value);
}
