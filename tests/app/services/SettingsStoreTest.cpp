#include "app/services/SettingsStore.h"

#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

namespace {

const QString kSection = QStringLiteral("clipFerry");

void StoreRaw(const QString& key, const QString& value) {
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  settings.setValue(kSection + QLatin1Char('/') + key, value);
}

QString LoadRaw(const QString& key) {
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  return settings.value(kSection + QLatin1Char('/') + key).toString();
}

TEST(SettingsStore, EncodesUtf16LittleEndianBytesAsUpperCaseHex) {
  WriteSetting(kSection, QStringLiteral("account"), QStringLiteral("ab"));
  EXPECT_EQ(LoadRaw(QStringLiteral("account")), QStringLiteral("&H61006200"));
  EXPECT_EQ(ReadSetting(kSection, QStringLiteral("account"), QString()), QStringLiteral("ab"));

  // A character above U+00FF puts its high byte second; letters stay upper case.
  WriteSetting(kSection, QStringLiteral("folderName"), QStringLiteral("中x"));
  EXPECT_EQ(LoadRaw(QStringLiteral("folderName")), QStringLiteral("&H2D4E7800"));
  EXPECT_EQ(ReadSetting(kSection, QStringLiteral("folderName"), QString()), QStringLiteral("中x"));
}

TEST(SettingsStore, ShortOrMalformedValuesReadAsTheDefault) {
  struct Case {
    const char* stored;
    const char* expected;
  };
  const Case cases[] = {
      {"ab", "fallback"},         // shorter than three characters
      {"", "fallback"},           // empty, as an emptied login is stored
      {"abc", "abc"},             // three characters, not encoded: as stored
      {"&H6100620", "fallback"},  // half a code unit
      {"&HZZ00", "fallback"},     // not hexadecimal
      {"&H610062", "fallback"},   // odd number of bytes
      {"&H4100", "A"},            // shortest well-formed value
  };
  for (const Case& c : cases) {
    StoreRaw(QStringLiteral("probe"), QString::fromUtf8(c.stored));
    EXPECT_EQ(ReadSetting(kSection, QStringLiteral("probe"), QStringLiteral("fallback")),
              QString::fromUtf8(c.expected))
        << "stored: " << c.stored;
  }
}

TEST(SettingsStore, EmptyValuesFallBackToTheKeysDefaults) {
  WriteSetting(kSection, QStringLiteral("account"), QString());
  EXPECT_EQ(LoadRaw(QStringLiteral("account")), QString());
  EXPECT_EQ(ReadSetting(kSection, QStringLiteral("account"), QString()), QString());
  WriteSetting(kSection, QStringLiteral("folderID"), QString());
  EXPECT_EQ(ReadSetting(kSection, QStringLiteral("folderID"), QStringLiteral("1")),
            QStringLiteral("1"));
  EXPECT_EQ(ReadSetting(kSection, QStringLiteral("neverWritten"), QStringLiteral("127.0.0.1")),
            QStringLiteral("127.0.0.1"));
}

TEST(SettingsStore, PlainValuesAreStoredAsTheyStand) {
  WritePlainSetting(kSection, QStringLiteral("chkRemQueue"), QStringLiteral("0"));
  EXPECT_EQ(LoadRaw(QStringLiteral("chkRemQueue")), QStringLiteral("0"));
  EXPECT_EQ(ReadPlainSetting(kSection, QStringLiteral("chkRemQueue"), QStringLiteral("1")),
            QStringLiteral("0"));
}

TEST(SettingsStore, SettingsFileIsReadableByItsOwnerOnly) {
  WriteSetting(kSection, QStringLiteral("password"), QStringLiteral("secret"));
  const QString file =
      QSettings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry")).fileName();
  const QFile::Permissions perms = QFileInfo(file).permissions();
  EXPECT_TRUE(perms & QFile::ReadOwner);
  EXPECT_FALSE(perms &
               (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
}

}  // namespace
