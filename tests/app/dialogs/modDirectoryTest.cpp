#include "app/dialogs/modDirectory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kPatterns = QStringLiteral("*.kqp;*.mp4;*.avi");

bool Touch(const QString& path) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QFile file(path);
  return file.open(QIODevice::WriteOnly);
}

TEST(modDirectory, MatchesOnTheLastExtensionIgnoringCase) {
  struct Case {
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"clip.mp4", true},    {"CLIP.MP4", true},      {"a.b.avi", true}, {"clip.mp", false},
      {"clip.mp44", false},  {"clip.mp4.txt", false}, {"mp4", false},    {"clip.", false},
      {"project.kqp", true}, {"x.vob", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(modDirectory::Matches(QString::fromUtf8(c.name), kPatterns + QLatin1Char(';')),
              c.matches)
        << c.name;
  }
}

TEST(modDirectory, SmallHelpers) {
  EXPECT_EQ(modDirectory::AddBackslash(QStringLiteral("/a/b")), QStringLiteral("/a/b/"));
  EXPECT_EQ(modDirectory::AddBackslash(QStringLiteral("/a/b/")), QStringLiteral("/a/b/"));
  QString buffer = QStringLiteral("/home/me");
  buffer.append(QChar(0)).append(QStringLiteral("garbage"));
  EXPECT_EQ(modDirectory::CutAtNul(buffer), QStringLiteral("/home/me"));
  EXPECT_EQ(modDirectory::CutAtNul(QStringLiteral("/x")), QStringLiteral("/x"));
}

TEST(modDirectory, WalksFilesBeforeSubfoldersAndReportsEachMatchOnce) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  for (const char* name : {"b.mp4", "a.AVI", "notes.txt", "sub/c.mp4", "sub/deeper/d.kqp",
                           "sub/deeper/e.mkv", "other/f.mp4"}) {
    ASSERT_TRUE(Touch(root.filePath(QLatin1String(name))));
  }
  // A link back up the tree must not make the walk go round forever.
  ASSERT_TRUE(QFile::link(root.path(), root.filePath(QStringLiteral("sub/loop"))));

  modDirectory walker;
  walker.setPumpEvents(false);
  QStringList reported;
  // No trailing ";" on the patterns: the walk adds it.
  const auto result =
      walker.Walk(root.path(), kPatterns, [&](const QString& path) { reported << path; });
  EXPECT_EQ(result, modDirectory::Result::Finished);
  const QString base = root.path() + QLatin1Char('/');
  const QStringList expected = {base + "a.AVI", base + "b.mp4", base + "other/f.mp4",
                                base + "sub/c.mp4", base + "sub/deeper/d.kqp"};
  EXPECT_EQ(reported, expected);
  EXPECT_EQ(walker.matches(), expected);

  EXPECT_EQ(walker.Walk(root.filePath(QStringLiteral("missing")), kPatterns, nullptr),
            modDirectory::Result::Unreadable);
  EXPECT_TRUE(walker.matches().isEmpty());
}

TEST(modDirectory, StopsOnRequestAndAtTheMatchLimit) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Touch(root.filePath(QStringLiteral("v%1.mp4").arg(i))));
  modDirectory walker;
  walker.setPumpEvents(false);
  int seen = 0;
  auto result = walker.Walk(root.path(), kPatterns, [&](const QString&) {
    if (++seen == 2) walker.Stop();
  });
  EXPECT_EQ(result, modDirectory::Result::Stopped);
  EXPECT_EQ(walker.matches().size(), 2);
  // A stop request belongs to one walk only.
  EXPECT_EQ(walker.Walk(root.path(), kPatterns, nullptr), modDirectory::Result::Finished);
  EXPECT_EQ(walker.matches().size(), 5);

  QTemporaryDir many;
  ASSERT_TRUE(many.isValid());
  for (int i = 0; i <= modDirectory::kMaxMatches; ++i) {
    ASSERT_TRUE(Touch(many.filePath(QStringLiteral("%1.mp4").arg(i, 5, 10, QLatin1Char('0')))));
  }
  seen = 0;
  result = walker.Walk(many.path(), kPatterns, [&](const QString&) { ++seen; });
  EXPECT_EQ(result, modDirectory::Result::TooManyMatches);
  EXPECT_EQ(seen, modDirectory::kMaxMatches);
  EXPECT_EQ(walker.matches().size(), modDirectory::kMaxMatches);
}

}  // namespace
