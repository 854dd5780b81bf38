#include "app/services/modGlobal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void Touch(const QString& path, const QByteArray& bytes = "x") {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

TEST(NumberUtilities, ClockAndRounding) {
  EXPECT_EQ(SecondsToClock(0), QStringLiteral("0:00:00"));
  EXPECT_EQ(SecondsToClock(3725), QStringLiteral("1:02:05"));
  EXPECT_EQ(SecondsToClock(36000 * 3 + 59), QStringLiteral("30:00:59"));

  const std::pair<double, qint64> even[] = {{3, 4}, {2.9, 2}, {4.9, 4}, {5, 6},
                                            {0, 0}, {1, 2},   {-3, -2}};
  for (const auto& [x, expected] : even) EXPECT_EQ(NearestEven(x), expected) << x;

  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(3.4), 3);
  EXPECT_EQ(StripControlChars(QStringLiteral("a\tb\vc\nd")), QStringLiteral("abc\nd"));
}

TEST(FileUtilities, CopyMoveAndDeleteOverReadOnlyTargets) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a"), b = dir.filePath("b"), c = dir.filePath("c");
  Touch(a, "new");
  Touch(b, "old");
  QFile::setPermissions(b, QFile::ReadOwner);
  EXPECT_TRUE(CopyFileForce(a, b));
  EXPECT_EQ(GetFileSize(b), 3);
  EXPECT_FALSE(CopyFileForce(dir.filePath("missing"), c));

  QFile::setPermissions(b, QFile::ReadOwner);
  EXPECT_TRUE(MoveFileForce(b, c));
  EXPECT_FALSE(QFileInfo::exists(b));
  EXPECT_FALSE(MoveFileForce(b, c));

  QFile::setPermissions(c, QFile::ReadOwner);
  EXPECT_TRUE(DeleteFileForce(c));
  EXPECT_TRUE(DeleteFileForce(c));  // already gone
  EXPECT_EQ(GetFileSize(c), 0);
}

TEST(FileUtilities, FolderTreesAreDeletedAndRecreated) {
  QTemporaryDir dir;
  const QString tree = dir.filePath("tree");
  QDir().mkpath(tree + "/inner");
  Touch(tree + "/inner/file");
  QFile::setPermissions(tree + "/inner", QFile::ReadOwner | QFile::ExeOwner);
  EXPECT_TRUE(DeleteFolder(tree));
  EXPECT_FALSE(QFileInfo::exists(tree));

  EXPECT_EQ(RecreateFolder(dir.filePath("no-parent/child")), 1);
  QDir().mkpath(tree);
  Touch(tree + "/old");
  EXPECT_EQ(RecreateFolder(tree), 0);
  EXPECT_TRUE(QDir(tree).isEmpty());
}

TEST(FileUtilities, AFolderThatIsALinkIsRemovedWithoutTouchingItsTarget) {
  QTemporaryDir dir;
  const QString target = dir.filePath("elsewhere");
  QDir().mkpath(target);
  Touch(target + "/keep");
  const QString link = dir.filePath("work");
  ASSERT_TRUE(QFile::link(target, link));
  EXPECT_TRUE(DeleteFolder(link));
  EXPECT_FALSE(QFileInfo(link).isSymLink());
  EXPECT_TRUE(QFileInfo::exists(target + "/keep"));

  ASSERT_TRUE(QFile::link(target, link));
  EXPECT_EQ(RecreateFolder(link), 0);
  EXPECT_FALSE(QFileInfo(link).isSymLink());
  EXPECT_TRUE(QFileInfo(link).isDir());
  EXPECT_TRUE(QFileInfo::exists(target + "/keep"));
}

TEST(FileUtilities, SizesAndSpace) {
  QTemporaryDir dir;
  Touch(dir.filePath("k"), QByteArray(1536, 'x'));
  EXPECT_EQ(GetFileSizeKB(dir.filePath("k")), 2);  // 1.5 KiB rounds up
  Touch(dir.filePath("j"), QByteArray(1535, 'x'));
  EXPECT_EQ(GetFileSizeKB(dir.filePath("j")), 1);
  EXPECT_EQ(GetFolderSize(dir.path()), 1536 + 1535);
  EXPECT_EQ(GetFreeSpaceMB(QStringLiteral("//server/share")), 101);
  EXPECT_GT(GetFreeSpaceMB(dir.filePath("not-yet/created")), 0);
  EXPECT_TRUE(HasEnoughSpace(dir.path(), 1024.0));
  EXPECT_FALSE(HasEnoughSpace(dir.path(), 1e18));
}

TEST(FileUtilities, UniqueTempPathsUseFreshNamesInAnExistingFolder) {
  QTemporaryDir dir;
  EXPECT_EQ(UniqueTempPath(dir.filePath("missing"), "zip", "p_"), QString());
  const QString path = UniqueTempPath(dir.path(), ".zip", "_kqVidZip_");
  const QRegularExpression shape(QStringLiteral("/_kqVidZip_rad[0-9A-F]{5}\\.tmp\\.\\.zip$"));
  EXPECT_TRUE(shape.match(path).hasMatch()) << path.toStdString();
  EXPECT_TRUE(path.startsWith(dir.path()));
}

}  // namespace
