#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/updater/modUpdate.h"
#include "tests/app/updater/TestZip.h"
#include "tools/updater/UpdateApplier.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

class Applier : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(Write(Program(QStringLiteral("clipFerry")), "v1"));
    ASSERT_TRUE(Write(Program(QStringLiteral("res.xml")), "res v1"));
  }
  static bool Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
  }
  static QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }
  QString Program(const QString& name) const { return programDir_.filePath(name); }
  QString Update(const QString& name) const { return updateDir_.filePath(name); }
  bool Patch(const char* ver, const QList<TestZipEntry>& entries) const {
    QDir().mkpath(Update(QString::fromLatin1(ver)));
    return WriteTestZip(Update(QStringLiteral("%1/patch.zip").arg(QLatin1String(ver))), entries);
  }
  bool Versions(const QByteArray& lines) const {
    return Write(Update(QStringLiteral("verList.txt")), lines);
  }
  bool Apply() {
    UpdateApplier applier(updateDir_.path(), programDir_.path());
    const bool ok = applier.Apply();
    error_ = applier.ErrorText();
    return ok;
  }
  void ExpectProgramUnchanged(const char* why) const {
    EXPECT_EQ(Read(Program(QStringLiteral("clipFerry"))), "v1") << why;
    EXPECT_EQ(Read(Program(QStringLiteral("res.xml"))), "res v1") << why;
    EXPECT_EQ(QDir(programDir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2)
        << why;
  }

  QTemporaryDir programDir_;
  QTemporaryDir updateDir_;
  QString error_;
};

TEST_F(Applier, AppliesThePatchesOldestFirstSoTheNewestWins) {
  ASSERT_TRUE(Patch("2.4", {{"clipFerry", "v2.4"}, {"res.xml", "res v2.4"}, {"lib/a.txt", "a"}}));
  ASSERT_TRUE(Patch("2.5", {{"clipFerry", "v2.5", 0100755}}));
  ASSERT_TRUE(Versions("2.4\r\n2.5\r\n"));
  ASSERT_TRUE(Apply()) << error_.toStdString();
  EXPECT_EQ(Read(Program(QStringLiteral("clipFerry"))), "v2.5");
  EXPECT_TRUE(QFileInfo(Program(QStringLiteral("clipFerry"))).isExecutable());
  EXPECT_EQ(Read(Program(QStringLiteral("res.xml"))), "res v2.4");
  EXPECT_EQ(Read(Program(QStringLiteral("lib/a.txt"))), "a");
  EXPECT_FALSE(QFileInfo::exists(Program(QStringLiteral("clipFerry.kqnew"))));
}

TEST_F(Applier, RefusesUpdatesThatWouldReachOutsideOrWereTamperedWith) {
  const QString outside = QDir(updateDir_.path()).filePath(QStringLiteral("../evil"));
  const QByteArray otherDigest(64, '0');
  struct Case {
    const char* name;
    std::function<bool(Applier*)> prepare;
  };
  const Case cases[] = {
      {"an archive entry ../evil",
       [](Applier* t) {
         return t->Patch("2.5", {{"clipFerry", "v2.5"}, {"../evil", "x"}}) && t->Versions("2.5\n");
       }},
      {"a version naming another folder",
       [](Applier* t) {
         return t->Patch("2.5", {{"clipFerry", "v2.5"}}) && t->Versions("2.5\n../../x\n");
       }},
      {"a link in the archive",
       [](Applier* t) {
         return t->Patch("2.5", {{"clipFerry", "v2.5"}, {"out", "/tmp", 0120777}}) &&
                t->Versions("2.5\n");
       }},
      {"a patch that does not match the saved list",
       [&otherDigest](Applier* t) {
         return t->Patch("2.5", {{"clipFerry", "v2.5"}}) && t->Versions("2.5\n") &&
                Write(t->Update(QStringLiteral("verList.xml")),
                      "<verInfo><list><item><ver>2.5</ver><sha256>" + otherDigest +
                          "</sha256></item></list></verInfo>");
       }},
      {"a later patch missing",
       [](Applier* t) {
         return t->Patch("2.4", {{"clipFerry", "v2.4"}}) && t->Versions("2.4\n2.5\n");
       }},
  };
  for (const Case& c : cases) {
    QDir(updateDir_.path()).removeRecursively();
    QDir().mkpath(updateDir_.path());
    ASSERT_TRUE(c.prepare(this)) << c.name;
    EXPECT_FALSE(Apply()) << c.name;
    EXPECT_FALSE(error_.isEmpty()) << c.name;
    ExpectProgramUnchanged(c.name);
    EXPECT_FALSE(QFileInfo::exists(outside)) << c.name;
  }
}

// A link, whether it came with a patch or already sits in the program folder, is never written
// through: the update stops before anything outside the program folder can change.
TEST_F(Applier, NeverWritesThroughALink) {
  QTemporaryDir elsewhere;
  const QByteArray target = elsewhere.path().toUtf8();
  struct Case {
    const char* name;
    std::function<bool(Applier*)> prepare;
    const char* reason;
  };
  const Case cases[] = {
      {"a link in one patch and a file through it in the next",
       [&target](Applier* t) {
         return t->Patch("2.4", {{"d", target, 0120777}}) &&
                t->Patch("2.5", {{"clipFerry", "v2.5"}, {"d/x.txt", "x"}}) &&
                t->Versions("2.4\n2.5\n");
       },
       "holds a link: d"},
      {"a file that is also a folder of a later patch",
       [](Applier* t) {
         return t->Patch("2.4", {{"d", "file"}}) &&
                t->Patch("2.5", {{"clipFerry", "v2.5"}, {"d/x.txt", "x"}}) &&
                t->Versions("2.4\n2.5\n");
       },
       "both as a file and as a folder"},
      {"a link to a folder in the program folder",
       [&target](Applier* t) {
         return QFile::link(QString::fromUtf8(target), t->Program(QStringLiteral("lib"))) &&
                t->Patch("2.5", {{"clipFerry", "v2.5"}, {"lib/x.txt", "x"}}) &&
                t->Versions("2.5\n");
       },
       "Refused to write through lib"},
  };
  for (const Case& c : cases) {
    QDir(updateDir_.path()).removeRecursively();
    QDir().mkpath(updateDir_.path());
    QFile::remove(Program(QStringLiteral("lib")));
    ASSERT_TRUE(c.prepare(this)) << c.name;
    EXPECT_FALSE(Apply()) << c.name;
    EXPECT_FALSE(error_.isEmpty()) << c.name;
    EXPECT_TRUE(
        QDir(elsewhere.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << c.name;
    QFile::remove(Program(QStringLiteral("lib")));
    ExpectProgramUnchanged(c.name);
  }
}

// The updater program as the program hands over to it: the same two-patch update is refused, and
// the old program is started again from a folder left as it was.
TEST_F(Applier, TheUpdaterProgramRefusesALinkedUpdateAndStartsTheOldProgram) {
  const QByteArray script = "#!/bin/sh\necho old > \"$(dirname \"$0\")/started.txt\"\n";
  ASSERT_TRUE(Write(Program(QStringLiteral("clipFerry")), script));
  ASSERT_TRUE(QFile::setPermissions(
      Program(QStringLiteral("clipFerry")),
      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  QTemporaryDir elsewhere;
  ASSERT_TRUE(Patch("2.4", {{"d", elsewhere.path().toUtf8(), 0120777}}));
  ASSERT_TRUE(Patch("2.5", {{"clipFerry", "v2.5"}, {"d/x.txt", "x"}}));
  ASSERT_TRUE(Versions("2.4\r\n2.5\r\n"));
  const QString updater = Update(QStringLiteral("updater/kqUpdater"));
  ASSERT_TRUE(QDir().mkpath(Update(QStringLiteral("updater"))));
  const QDir built(QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")));
  ASSERT_TRUE(QFile::copy(built.filePath(QStringLiteral("kqUpdater")), updater));
  const QString section = QString::fromLatin1(kSettingsSection);
  WritePlainSetting(section, QString::fromLatin1(kHandOverFolderKey), programDir_.path());
  WritePlainSetting(section, QString::fromLatin1(kHandOverTitleKey), QString());

  QProcess run;
  run.start(updater, {QString::fromLatin1(kUpdaterArgument)});
  ASSERT_TRUE(run.waitForFinished(60000));
  EXPECT_EQ(run.exitCode(), 1) << run.readAllStandardError().toStdString();
  const QString started = Program(QStringLiteral("started.txt"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(started); }, 10000));
  EXPECT_EQ(Read(started), "old\n");
  EXPECT_EQ(Read(Program(QStringLiteral("clipFerry"))), script);
  EXPECT_FALSE(QFileInfo::exists(Program(QStringLiteral("d"))));
  EXPECT_TRUE(
      QDir(elsewhere.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
  // The downloads stay for a look at what failed.
  EXPECT_TRUE(QFileInfo::exists(Update(QStringLiteral("2.5/patch.zip"))));
}

TEST_F(Applier, AFailedCopyPutsBackWhatWasAlreadyReplaced) {
  // "zz" is a folder in the program folder, so the file of that name cannot replace it; the
  // files copied before it must come back as they were.
  ASSERT_TRUE(QDir().mkpath(Program(QStringLiteral("zz"))));
  ASSERT_TRUE(Patch(
      "2.5", {{"clipFerry", "v2.5"}, {"res.xml", "res v2.5"}, {"new.txt", "n"}, {"zz", "file"}}));
  ASSERT_TRUE(Versions("2.5\n"));
  EXPECT_FALSE(Apply());
  EXPECT_TRUE(error_.contains(QStringLiteral("zz"))) << error_.toStdString();
  EXPECT_EQ(Read(Program(QStringLiteral("clipFerry"))), "v1");
  EXPECT_EQ(Read(Program(QStringLiteral("res.xml"))), "res v1");
  EXPECT_FALSE(QFileInfo::exists(Program(QStringLiteral("new.txt"))));
}

// Folder names that a shell or an option parser would take apart.
TEST(ApplierPaths, UnpacksIntoFoldersWithHostileNames) {
  QTemporaryDir base;
  const QString hostile =
      QStringLiteral("-x \"q\" 'a' $(touch pwned) `touch pwned`; [x]*? \\ \u00fcber \u6a94");
  const QDir root(base.path());
  const QString program = root.filePath(hostile + QStringLiteral(" program"));
  const QString update = root.filePath(hostile + QStringLiteral(" update"));
  ASSERT_TRUE(QDir().mkpath(program));
  ASSERT_TRUE(QDir().mkpath(update + QStringLiteral("/2.5")));
  ASSERT_TRUE(WriteTestZip(update + QStringLiteral("/2.5/patch.zip"),
                           {{"clipFerry", "v2.5", 0100755}, {"sub dir/\xc3\xa4.txt", "a"}}));
  ASSERT_TRUE(Applier::Write(update + QStringLiteral("/verList.txt"), "2.5\r\n"));
  UpdateApplier applier(update, program);
  ASSERT_TRUE(applier.Apply()) << applier.ErrorText().toStdString();
  EXPECT_EQ(Applier::Read(program + QStringLiteral("/clipFerry")), "v2.5");
  EXPECT_EQ(Applier::Read(program + QStringLiteral("/sub dir/\u00e4.txt")), "a");
  EXPECT_FALSE(QFileInfo::exists(root.filePath(QStringLiteral("pwned"))));
  EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral("pwned"))));
}

}  // namespace
