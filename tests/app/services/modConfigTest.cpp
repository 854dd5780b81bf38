#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/modConfig.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ServerAddress, LosesBlanksAndSchemes) {
  const std::pair<const char*, const char*> cases[] = {
      {"  http://lecture.example.edu:8080/sub  ", "lecture.example.edu:8080/sub"},
      {"https://lecture.example.edu", "lecture.example.edu"},
      {"10.1.2.3", "10.1.2.3"},
      {"http://https://host", "host"},
      {"host/http://x", "host/x"},
  };
  for (const auto& [typed, expected] : cases) {
    EXPECT_EQ(NormalizeServerAddress(QString::fromUtf8(typed)), QString::fromUtf8(expected))
        << typed;
  }
}

TEST(ServerProfile, ReadsRememberedServerWithDefaults) {
  ServerProfile profile;
  EXPECT_FALSE(LoadServerProfile(&profile));
  EXPECT_EQ(profile.serverAddress, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(profile.folderID, QStringLiteral("1"));
  EXPECT_EQ(profile.folderName, QStringLiteral("test"));

  WriteSetting(QStringLiteral("clipFerry"), QStringLiteral("serverIP"),
               QStringLiteral(" http://srv:81 "));
  WriteSetting(QStringLiteral("clipFerry"), QStringLiteral("account"), QStringLiteral("teacher"));
  WriteSetting(QStringLiteral("clipFerry"), QStringLiteral("password"), QStringLiteral("pw"));
  EXPECT_TRUE(LoadServerProfile(&profile));
  EXPECT_EQ(profile.serverAddress, QStringLiteral("srv:81"));
  EXPECT_EQ(profile.account, QStringLiteral("teacher"));
}

TEST(ProjectProfile, TinyOrMissingProfileCountsAsAbsentAndIsRemoved) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("mavo_profile.xml"));
  ProjectProfile profile;
  EXPECT_FALSE(ReadProjectProfile(folder.path(), &profile));
  EXPECT_EQ(profile.contentID, QStringLiteral("0"));

  WriteFile(path, "<a></a>");
  EXPECT_FALSE(ReadProjectProfile(folder.path(), &profile));
  EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(ProjectProfile, ReadsAndRewritesTheServerValuesInPlace) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("mavo_profile.xml"));
  WriteFile(path,
            "<?xml version=\"1.0\"?><profile><server><url>http://srv</url><folderID>7</folderID>"
            "<contentID></contentID></server><meta><title>A &amp; B</title></meta></profile>");
  ProjectProfile profile;
  ASSERT_TRUE(ReadProjectProfile(folder.path(), &profile));
  EXPECT_EQ(profile.url, QStringLiteral("srv"));
  EXPECT_EQ(profile.folderID, QStringLiteral("7"));
  EXPECT_EQ(profile.contentID, QStringLiteral("0"));

  ASSERT_TRUE(WriteProjectProfile(folder.path(), QStringLiteral("other:8080"), QStringLiteral("9"),
                                  QStringLiteral("123")));
  ASSERT_TRUE(ReadProjectProfile(folder.path(), &profile));
  EXPECT_EQ(profile.url, QStringLiteral("other:8080"));
  EXPECT_EQ(profile.folderID, QStringLiteral("9"));
  EXPECT_EQ(profile.contentID, QStringLiteral("123"));
  const QByteArray saved = ReadFile(path);
  EXPECT_TRUE(saved.contains("<title>A &amp; B</title>"));
  EXPECT_TRUE(saved.contains("<server>\r\n<url>other:8080</url>\r\n"));
}

TEST(ProjectProfile, WritingAMissingOrBrokenProfileFailsAndChangesNothing) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("mavo_profile.xml"));
  EXPECT_FALSE(WriteProjectProfile(folder.path(), "u", "1", "2"));
  EXPECT_FALSE(QFileInfo::exists(path));
  WriteFile(path, "<profile><server><url>x</url>");
  EXPECT_FALSE(WriteProjectProfile(folder.path(), "u", "1", "2"));
  EXPECT_EQ(ReadFile(path), QByteArray("<profile><server><url>x</url>"));
}

TEST(DefaultProjectVersion, ComesFromTheTemplateInTheProgramFolder) {
  QTemporaryDir folder;
  SetProgramFolder(folder.path());
  WriteFile(folder.filePath(QStringLiteral("default.kqp")), "<project ver=\"7\"><a/></project>");
  EXPECT_EQ(GetDefaultProjectVersion(), QStringLiteral("7"));
  SetProgramFolder(QString());
}

TEST(ProcessorCheck, HighSpeedNeedsMoreThanTwoProcessors) {
  EXPECT_FALSE(HighSpeedAvailable(1));
  EXPECT_FALSE(HighSpeedAvailable(2));
  EXPECT_TRUE(HighSpeedAvailable(3));
  EXPECT_GE(LogicalProcessorCount(), 1);
  EXPECT_GE(GetWindowsVersion(), 60);
}

}  // namespace
