#include "app/dialogs/PathShortener.h"

#include <gtest/gtest.h>

namespace {

// One unit per character keeps the expected widths readable.
int Chars(const QString& text) { return static_cast<int>(text.size()); }

TEST(PathShortener, DropsFoldersFromTheFrontUntilThePathFits) {
  const QString path = QStringLiteral("/Courses/2010/Physics/Week 3/lecture.wmv");
  struct Case {
    int width;
    const char* expected;
  };
  const Case cases[] = {
      {100, "/Courses/2010/Physics/Week 3/lecture.wmv"},
      {static_cast<int>(path.size()), "/Courses/2010/Physics/Week 3/lecture.wmv"},
      {38, "/.../2010/Physics/Week 3/lecture.wmv"},
      {33, "/.../Physics/Week 3/lecture.wmv"},
      {25, "/.../Week 3/lecture.wmv"},
      {16, "/.../lecture.wmv"},
      // Narrower than anything it can make: the root and the file name still stay.
      {3, "/.../lecture.wmv"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathShortener::contractStr(path, c.width, Chars), QString::fromUtf8(c.expected))
        << c.width;
  }
}

TEST(PathShortener, NeverShortensAPathOfTwoParts) {
  for (const char* path : {"/lecture-with-a-long-name.wmv", "lecture.wmv", "folder/lecture.wmv"}) {
    EXPECT_EQ(PathShortener::contractStr(QString::fromUtf8(path), 1, Chars),
              QString::fromUtf8(path));
  }
}

TEST(PathShortener, KeepsTheFirstPartOfARelativePath) {
  EXPECT_EQ(PathShortener::contractStr(QStringLiteral("media/a/b/c/clip.mp4"), 18, Chars),
            QStringLiteral("media/.../clip.mp4"));
}

}  // namespace
