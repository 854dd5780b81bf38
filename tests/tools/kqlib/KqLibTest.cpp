// kqLib_P5 and kqLib_P6 as a project upload calls them, and kqmedia, on stores packed from
// generated clips.

#include "TestFiles.h"
#include "tests/app/media/TestClips.h"
#include "tests/app/project/TestProjects.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibrary>
#include <QTemporaryDir>
#include <QThread>

#include <cstdint>

namespace {

using VerifyFunction = int32_t (*)(const char*);
using CreateFunction = int32_t (*)(const char*, const char*, const char*, int32_t, int32_t);
using TimeFunction = int32_t (*)();

struct Module {
  explicit Module(const char* name)
      : library(TestClips::ProgramFolder() + QLatin1Char('/') + QString::fromUtf8(name)) {
    verify = reinterpret_cast<VerifyFunction>(library.resolve("verifyWholeKqFile"));
    create = reinterpret_cast<CreateFunction>(library.resolve("ThumbCreate2"));
    time = reinterpret_cast<TimeFunction>(library.resolve("ThumbTime"));
  }
  bool ok() const { return verify && create && time; }

  // Polls as the upload does; the bound only keeps a broken maker from hanging the suite.
  bool WaitDone() const {
    for (int i = 0; i < 1200; ++i) {
      if (time() == -1) return true;
      QThread::msleep(50);
    }
    return false;
  }

  QLibrary library;
  VerifyFunction verify = nullptr;
  CreateFunction create = nullptr;
  TimeFunction time = nullptr;
};

QByteArray Path(const QString& path) { return QFile::encodeName(path); }

// The colour in the middle of a picture, as "red", "lime" or "blue" when it is clearly one.
QString CentreColour(const QImage& image) {
  const QColor colour = image.pixelColor(image.width() / 2, image.height() / 2);
  const auto high = [](int v) { return v > 200; };
  const auto low = [](int v) { return v < 60; };
  if (high(colour.red()) && low(colour.green()) && low(colour.blue())) return QStringLiteral("red");
  if (low(colour.red()) && high(colour.green()) && low(colour.blue()))
    return QStringLiteral("lime");
  if (low(colour.red()) && low(colour.green()) && high(colour.blue()))
    return QStringLiteral("blue");
  return colour.name();
}

class KqLibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(work_.isValid());
    store_ = TestProjects::MakeMediaStore(work_.filePath(QStringLiteral("lesson one")),
                                          {"red", "lime", "blue"});
    ASSERT_FALSE(store_.isEmpty());
  }

  QString Kqmedia() const { return TestClips::ProgramFolder() + QStringLiteral("/kqmedia"); }

  QTemporaryDir work_;
  QString store_;
};

TEST_F(KqLibTest, VerifyTellsWholeStoresFromDamagedOnes) {
  const QByteArray good = ReadFile(store_);
  ASSERT_GT(good.size(), 100);
  const auto flipped = [&](qsizetype at) {
    QByteArray bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    return bytes;
  };
  QByteArray newer = good;
  newer[4] = 2;
  const struct {
    const char* name;
    QByteArray bytes;
    bool sound;
  } cases[] = {
      {"as packed", good, true},
      {"truncated by one byte", good.left(good.size() - 1), false},
      {"truncated to the header", good.left(16), false},
      {"one byte more", good + "x", false},
      {"payload byte flipped", flipped(good.size() / 2), false},
      {"first payload byte flipped", flipped(16), false},
      {"checksum byte flipped", flipped(good.size() - 1), false},
      {"length field changed", flipped(9), false},
      {"other magic", flipped(0), false},
      {"newer format", newer, false},
      {"empty", QByteArray(), false},
  };
  for (const char* name : {"kqLib_P5.so", "kqLib_P6.so"}) {
    Module module(name);
    ASSERT_TRUE(module.ok()) << name << module.library.errorString().toStdString();
    for (const auto& c : cases) {
      const QString path = work_.filePath(QStringLiteral("case.kq"));
      ASSERT_TRUE(WriteFile(path, c.bytes));
      EXPECT_EQ(module.verify(Path(path).constData()) != 0, c.sound) << name << ": " << c.name;
      int exitCode = -1;
      TestClips::RunProgram(Kqmedia(), {QStringLiteral("check"), path}, &exitCode);
      EXPECT_EQ(exitCode, c.sound ? 0 : 1) << "kqmedia check: " << c.name;
    }
    EXPECT_EQ(module.verify(Path(work_.filePath(QStringLiteral("none.kq"))).constData()), 0);
    EXPECT_EQ(module.verify(nullptr), 0);
  }
}

TEST_F(KqLibTest, PackRefusesWhatIsNoVideo) {
  const QString text = work_.filePath(QStringLiteral("notes.txt"));
  ASSERT_TRUE(WriteFile(text, "no video here"));
  const QString audio = work_.filePath(QStringLiteral("tone.m4a"));
  ASSERT_TRUE(TestClips::Make(audio, {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac"}));
  const QString store = work_.filePath(QStringLiteral("out.kq"));
  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
  } cases[] = {
      {"text file", {"pack", text, store}, 1},
      {"sound only", {"pack", audio, store}, 1},
      {"missing video", {"pack", work_.filePath(QStringLiteral("gone.mp4")), store}, 1},
      {"store folder missing",
       {"pack", store_, work_.filePath(QStringLiteral("none/media.kq"))},
       1},
      {"no store named", {"pack", text}, 2},
      {"unknown command", {"unpack", store_, store}, 2},
  };
  for (const auto& c : cases) {
    int exitCode = -1;
    TestClips::RunProgram(Kqmedia(), c.arguments, &exitCode);
    EXPECT_EQ(exitCode, c.exitCode) << c.name;
    EXPECT_FALSE(QFile::exists(store)) << c.name;
    EXPECT_FALSE(QFile::exists(store + QStringLiteral(".part"))) << c.name;
  }
}

TEST_F(KqLibTest, ThumbCreate2WritesOnePicturePerListedPosition) {
  const QString folder = QFileInfo(store_).absolutePath();
  const QString list = folder + QStringLiteral("/thumbList.txt");
  // Blank, negative and non-numeric lines are no positions; past the end gives the last picture.
  ASSERT_TRUE(WriteFile(list, "0\r\n3000\r\n\r\nx\r\n5000\r\n-5\r\n99999\r\n"));
  const struct {
    const char* module;
    const char* folderName;
    int width;
    int height;
  } cases[] = {{"kqLib_P6.so", "slides", 560, 420}, {"kqLib_P5.so", "small", 161, 121}};
  for (const auto& c : cases) {
    Module module(c.module);
    ASSERT_TRUE(module.ok()) << c.module;
    EXPECT_EQ(module.time(), -1) << "nothing running yet";
    ASSERT_EQ(module.create(Path(store_).constData(), Path(list).constData(), c.folderName, c.width,
                            c.height),
              1);
    ASSERT_TRUE(module.WaitDone()) << c.module;
    const QDir slides(folder + QLatin1Char('/') + QString::fromUtf8(c.folderName));
    EXPECT_EQ(slides.entryList(QDir::Files, QDir::Name),
              QStringList({"0.jpg", "3000.jpg", "5000.jpg", "99999.jpg"}))
        << c.module;
    const struct {
      const char* name;
      const char* colour;
    } pictures[] = {
        {"0.jpg", "red"}, {"3000.jpg", "lime"}, {"5000.jpg", "blue"}, {"99999.jpg", "blue"}};
    for (const auto& p : pictures) {
      const QImage image(slides.filePath(QString::fromUtf8(p.name)));
      EXPECT_EQ(image.size(), QSize(c.width, c.height)) << c.module << " " << p.name;
      EXPECT_EQ(CentreColour(image), QString::fromUtf8(p.colour)) << c.module << " " << p.name;
    }
  }
}

TEST_F(KqLibTest, ThumbCreate2RefusesUnusableArguments) {
  const QString folder = QFileInfo(store_).absolutePath();
  const QString list = folder + QStringLiteral("/thumbList.txt");
  ASSERT_TRUE(WriteFile(list, "0\n"));
  const QString missingList = folder + QStringLiteral("/none.txt");
  Module module("kqLib_P6.so");
  ASSERT_TRUE(module.ok());
  const struct {
    const char* name;
    QString list;
    const char* folderName;
    int width;
    int height;
  } cases[] = {
      {"folder above the store", list, "../escaped", 560, 420},
      {"nested folder", list, "a/b", 560, 420},
      {"absolute folder", list, "/tmp", 560, 420},
      {"empty folder name", list, "", 560, 420},
      {"dot folder", list, ".", 560, 420},
      {"zero width", list, "slides", 0, 420},
      {"negative height", list, "slides", 560, -1},
      {"huge picture", list, "slides", 100000, 420},
      {"missing list", missingList, "slides", 560, 420},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(module.create(Path(store_).constData(), Path(c.list).constData(), c.folderName,
                            c.width, c.height),
              0)
        << c.name;
    EXPECT_EQ(module.time(), -1) << c.name;
  }
  EXPECT_EQ(module.create(nullptr, Path(list).constData(), "slides", 560, 420), 0);
  EXPECT_FALSE(QFile::exists(work_.filePath(QStringLiteral("escaped"))));
  EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/slides")));

  // A damaged store starts a job that ends without pictures.
  const QString bad = folder + QStringLiteral("/bad.kq");
  ASSERT_TRUE(WriteFile(bad, "KQMS but nothing else"));
  EXPECT_EQ(module.create(Path(bad).constData(), Path(list).constData(), "slides", 560, 420), 1);
  ASSERT_TRUE(module.WaitDone());
  EXPECT_TRUE(QDir(folder + QStringLiteral("/slides")).entryList(QDir::Files).isEmpty());
}

}  // namespace
