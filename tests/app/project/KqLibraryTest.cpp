#include "app/project/KqLibrary.h"

#include "app/services/ProgramFolder.h"
#include "tests/app/media/TestClips.h"
#include "tests/app/project/TestProjects.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace cf {
namespace {

class KqLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(work_.isValid()); }
  void TearDown() override { SetProgramFolder(QString()); }

  QTemporaryDir work_;
};

TEST_F(KqLibraryTest, ModuleFollowsTheProjectVersion) {
  const struct {
    const char* version;
    const char* module;
  } cases[] = {{"5", "kqLib_P5.so"},
               {"5.2", "kqLib_P5.so"},
               {"6.0", "kqLib_P6.so"},
               {"7.0", ""},
               {"4.0", ""},
               {"", ""}};
  SetProgramFolder(TestClips::ProgramFolder());
  for (const auto& c : cases) {
    EXPECT_EQ(KqLibrary::ModuleFileName(QString::fromUtf8(c.version)), QString::fromUtf8(c.module))
        << c.version;
    KqLibrary library;
    EXPECT_EQ(library.Load(QString::fromUtf8(c.version)), *c.module != '\0') << c.version;
    EXPECT_EQ(library.isLoaded(), *c.module != '\0') << c.version;
    if (!library.isLoaded()) {
      EXPECT_FALSE(library.errorString().isEmpty()) << c.version;
      EXPECT_FALSE(library.VerifyWholeKqFile(QStringLiteral("/nonexistent")));
      EXPECT_EQ(library.ThumbTime(), -1);
    }
  }
  // A program folder without the modules.
  SetProgramFolder(work_.path());
  KqLibrary missing;
  EXPECT_FALSE(missing.Load(QStringLiteral("6.0")));
  EXPECT_FALSE(missing.errorString().isEmpty());
}

TEST_F(KqLibraryTest, VerifiesAndMakesSlidesOfAProjectFolderWithBlanks) {
  const QString folder = work_.filePath(QStringLiteral("My lessons/分數 1"));
  const QString store = TestProjects::MakeMediaStore(folder, {"red", "lime", "blue"});
  ASSERT_FALSE(store.isEmpty());
  const QString list = folder + QStringLiteral("/thumbList.txt");
  QFile listFile(list);
  ASSERT_TRUE(listFile.open(QIODevice::WriteOnly));
  listFile.write("0\r\n5000\r\n");
  listFile.close();

  SetProgramFolder(TestClips::ProgramFolder());
  KqLibrary library;
  ASSERT_TRUE(library.Load(QStringLiteral("5.0"))) << library.errorString().toStdString();
  EXPECT_TRUE(library.VerifyWholeKqFile(store));
  ASSERT_TRUE(library.ThumbCreate2(store, list, QStringLiteral("slides"), 280, 210));
  std::vector<int> reported;
  EXPECT_TRUE(library.WaitForThumbs([&](int ms) { reported.push_back(ms); }));
  EXPECT_EQ(library.ThumbTime(), -1);
  for (const int ms : reported) EXPECT_TRUE(ms == 5000) << ms;
  for (const char* name : {"0.jpg", "5000.jpg"}) {
    const QImage slide(folder + QStringLiteral("/slides/") + QString::fromUtf8(name));
    EXPECT_EQ(slide.size(), QSize(280, 210)) << name;
  }

  // A store damaged after packing is told apart.
  QFile damaged(store);
  ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
  damaged.seek(damaged.size() / 2);
  const char byte = damaged.peek(1).at(0);
  damaged.write(QByteArray(1, static_cast<char>(byte ^ 0x01)));
  damaged.close();
  EXPECT_FALSE(library.VerifyWholeKqFile(store));
}

TEST_F(KqLibraryTest, WaitEndsWhenTheMakerStopsReporting) {
  ASSERT_TRUE(
      QFile::copy(QStringLiteral(STALLED_KQLIB), work_.filePath(QStringLiteral("kqLib_P6.so"))));
  SetProgramFolder(work_.path());
  KqLibrary library;
  ASSERT_TRUE(library.Load(QStringLiteral("6.0")));
  ASSERT_TRUE(library.ThumbCreate2(QStringLiteral("media.kq"), QStringLiteral("thumbList.txt"),
                                   QStringLiteral("slides"), 560, 420));
  int calls = 0;
  EXPECT_FALSE(library.WaitForThumbs([&](int) { ++calls; }, 0));
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace cf
