#include "app/updater/ArchiveGuard.h"
#include "app/updater/ProcessList.h"
#include "tests/app/updater/TestZip.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(ArchiveGuard, EntryNamesThatLeaveTheirFolderAreRefused) {
  const struct {
    const char* name;
    bool safe;
  } cases[] = {{"kqUpdater_manifest", true},
               {"lib/a.so", true},
               {"a..b/c", true},
               {"../evil", false},
               {"a/../../evil", false},
               {"/etc/x", false},
               {"..\\evil", false},
               {"\\x", false},
               {"C:x", false},
               {"", false},
               {"a\nb", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(ArchiveGuard::IsSafeEntryName(QString::fromUtf8(c.name)), c.safe) << c.name;
  }
}

TEST(ArchiveGuard, ListsRealArchives) {
  QTemporaryDir dir;
  const QString good = dir.filePath(QStringLiteral("good.zip"));
  const QString evil = dir.filePath(QStringLiteral("evil.zip"));
  const QString junk = dir.filePath(QStringLiteral("junk.zip"));
  ASSERT_TRUE(WriteTestZip(good, {{"a.txt", "a"}, {"sub/b.txt", "b"}}));
  ASSERT_TRUE(WriteTestZip(evil, {{"a.txt", "a"}, {"../evil", "x"}}));
  QFile file(junk);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a zip");
  file.close();

  QString error;
  EXPECT_TRUE(ArchiveGuard::CheckEntries(good, &error)) << error.toStdString();
  EXPECT_FALSE(ArchiveGuard::CheckEntries(evil, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("../evil"))) << error.toStdString();
  EXPECT_FALSE(ArchiveGuard::CheckEntries(junk, &error));
  EXPECT_FALSE(ArchiveGuard::CheckEntries(dir.filePath(QStringLiteral("missing.zip")), &error));
}

TEST(ArchiveGuard, AnUnpackedLinkIsNotAPlainFile) {
  QTemporaryDir dir;
  QDir().mkpath(dir.filePath(QStringLiteral("tree/sub")));
  QFile(dir.filePath(QStringLiteral("tree/sub/a"))).open(QIODevice::WriteOnly);
  QString error;
  EXPECT_TRUE(ArchiveGuard::HoldsOnlyPlainFiles(dir.filePath(QStringLiteral("tree")), &error));
  ASSERT_TRUE(QFile::link(QStringLiteral("/etc"), dir.filePath(QStringLiteral("tree/sub/out"))));
  EXPECT_FALSE(ArchiveGuard::HoldsOnlyPlainFiles(dir.filePath(QStringLiteral("tree")), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("out")));
}

TEST(ProcessList, FindsAProgramByNameWithoutLetterCaseOrExe) {
  EXPECT_EQ(ProcessList::ComparableName(QStringLiteral("kqUpdater_Manifest.EXE")),
            QStringLiteral("kqupdater_manifest"));
  QTemporaryDir dir;
  const QString program = dir.filePath(QStringLiteral("kqUpdater_MANIFEST.exe"));
  ASSERT_TRUE(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), program));
  EXPECT_FALSE(ProcessList::IsRunningFrom(program));
  QProcess child;
  child.start(program, {QStringLiteral("30")});
  ASSERT_TRUE(child.waitForStarted());
  EXPECT_TRUE(ProcessList::IsRunning(QStringLiteral("kqupdater_manifest")));
  EXPECT_TRUE(ProcessList::IsRunningFrom(program));
  EXPECT_FALSE(ProcessList::IsRunningFrom(dir.filePath(QStringLiteral("other"))));
  child.kill();
  child.waitForFinished();
  EXPECT_FALSE(ProcessList::IsRunningFrom(program));
}

}  // namespace
