#include "app/updater/ArchiveGuard.h"
#include "app/updater/ProcessList.h"
#include "tests/app/updater/TestZip.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

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

TEST(ArchiveGuard, TheListingRefusesLinksBeforeAnythingIsUnpacked) {
  QTemporaryDir dir;
  const QString linked = dir.filePath(QStringLiteral("linked.zip"));
  const QString spaced = dir.filePath(QStringLiteral("spaced.zip"));
  ASSERT_TRUE(WriteTestZip(linked, {{"a.txt", "a"}, {"d", "/etc", 0120777}}));
  // Names with blanks and digits look like the listing's own columns.
  ASSERT_TRUE(WriteTestZip(spaced, {{"2.0 unx 5 b- stor x", "a"}, {"sub/", "", 040755}}));
  QString error;
  EXPECT_FALSE(ArchiveGuard::CheckEntries(linked, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("link"))) << error.toStdString();
  EXPECT_TRUE(ArchiveGuard::CheckEntries(spaced, &error)) << error.toStdString();
}

// The update folder sits at a fixed name in a shared temporary folder: whatever is found there
// is only emptied when it is a folder of ours, never followed.
TEST(ArchiveGuard, AFreshFolderIsMadeOnlyWhereNothingForeignStands) {
  QTemporaryDir dir;
  const QString victim = dir.filePath(QStringLiteral("victim"));
  ASSERT_TRUE(QDir().mkpath(victim));
  QFile kept(victim + QStringLiteral("/kept.txt"));
  ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
  kept.close();
  const QString link = dir.filePath(QStringLiteral("link"));
  const QString file = dir.filePath(QStringLiteral("file"));
  const QString old = dir.filePath(QStringLiteral("old"));
  const QString fresh = dir.filePath(QStringLiteral("fresh"));
  ASSERT_TRUE(QFile::link(victim, link));
  ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
  ASSERT_TRUE(QDir().mkpath(old + QStringLiteral("/sub")));
  ASSERT_TRUE(QFile::link(victim, old + QStringLiteral("/sub/into")));

  QString error;
  EXPECT_FALSE(ArchiveGuard::MakeFreshFolder(link, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("link"))) << error.toStdString();
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_FALSE(ArchiveGuard::MakeFreshFolder(file, &error));
  EXPECT_TRUE(QFileInfo(file).isFile());
  EXPECT_TRUE(QFileInfo::exists(victim + QStringLiteral("/kept.txt")));

  for (const QString& path : {old, fresh}) {
    ASSERT_TRUE(ArchiveGuard::MakeFreshFolder(path, &error)) << error.toStdString();
    EXPECT_TRUE(QDir(path).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_EQ(QFileInfo(path).permissions().toInt() & 0x0077, 0) << path.toStdString();
  }
  EXPECT_TRUE(QFileInfo::exists(victim + QStringLiteral("/kept.txt")));

  // Another user's folder is left alone; only root can set one up.
  if (::geteuid() != 0) return;
  const QString foreign = dir.filePath(QStringLiteral("foreign"));
  ASSERT_TRUE(QDir().mkpath(foreign));
  ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
  EXPECT_FALSE(ArchiveGuard::MakeFreshFolder(foreign, &error));
  EXPECT_TRUE(QFileInfo(foreign).isDir());
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
