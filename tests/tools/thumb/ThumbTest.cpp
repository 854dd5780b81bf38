// thumb as the project upload runs it: "thumb SOURCE TARGET 800 600 W H 2000", every blank of the
// two paths written as ",".

#include "TestFiles.h"
#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

// The leak checker of this toolchain misreads the dynamic thread-local storage of libjpeg, which
// the JPEG reader loads at run time to open the slides, and stops with a fatal error after the
// tests passed. Nothing this process allocates is held only in thread-local storage.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }

namespace {

QString Tool() { return TestClips::ProgramFolder() + QStringLiteral("/thumb"); }

QString Commas(QString path) { return path.replace(QLatin1Char(' '), QLatin1Char(',')); }

bool SolidPicture(const QString& path, const QSize& size, const QColor& colour) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  return image.save(path);
}

bool Near(const QColor& colour, int red, int green, int blue) {
  return std::abs(colour.red() - red) < 50 && std::abs(colour.green() - green) < 50 &&
         std::abs(colour.blue() - blue) < 50;
}

// How many pixels of the picture are close to the colour.
int Count(const QImage& image, int red, int green, int blue) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (Near(image.pixelColor(x, y), red, green, blue)) ++count;
    }
  }
  return count;
}

class ThumbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(work_.isValid());
    project_ = work_.filePath(QStringLiteral("My project"));
    ASSERT_TRUE(QDir().mkpath(project_ + QStringLiteral("/pages")));
    ASSERT_TRUE(QDir().mkpath(project_ + QStringLiteral("/slides")));
  }

  // Runs thumb on a file of the project folder into slides/NAME; returns the exit code.
  int Run(const QString& source, const QString& target, int width, int height) {
    int exitCode = -1;
    output_ = TestClips::RunProgram(
        Tool(),
        {Commas(source), Commas(target), QStringLiteral("800"), QStringLiteral("600"),
         QString::number(width), QString::number(height), QStringLiteral("2000")},
        &exitCode);
    return exitCode;
  }

  QTemporaryDir work_;
  QString project_;
  QString output_;
};

TEST_F(ThumbTest, PictureIsFittedOntoTheSlide) {
  // A square picture on a 4:3 page keeps its shape: white bands left and right.
  const QString source = project_ + QStringLiteral("/pages/red square.png");
  ASSERT_TRUE(SolidPicture(source, QSize(300, 300), Qt::red));
  const QString target = project_ + QStringLiteral("/slides/2.jpg");
  ASSERT_EQ(Run(source, target, 280, 210), 0) << output_.toStdString();
  const QImage slide(target);
  ASSERT_EQ(slide.size(), QSize(280, 210));
  EXPECT_TRUE(Near(slide.pixelColor(140, 105), 255, 0, 0));
  EXPECT_TRUE(Near(slide.pixelColor(10, 105), 255, 255, 255));
  EXPECT_TRUE(Near(slide.pixelColor(270, 105), 255, 255, 255));
}

TEST_F(ThumbTest, HtmlPageIsLaidOutWithPicturesFromItsOwnFolderOnly) {
  ASSERT_TRUE(SolidPicture(project_ + QStringLiteral("/pages/inside.png"), QSize(200, 150),
                           QColor(0, 255, 0)));
  ASSERT_TRUE(SolidPicture(work_.filePath(QStringLiteral("outside.png")), QSize(200, 150),
                           QColor(255, 0, 255)));
  const QString source = project_ + QStringLiteral("/pages/links.htm");
  ASSERT_TRUE(WriteFile(source,
                        "<html><head><meta charset=\"utf-8\"></head><body>"
                        "<p style=\"background-color:#0000ff; font-size:80px\">Links</p>"
                        "<img src=\"inside.png\"><img src=\"../../outside.png\">"
                        "<img src=\"" +
                            QFile::encodeName(work_.filePath(QStringLiteral("outside.png"))) +
                            "\"></body></html>"));
  const QString target = project_ + QStringLiteral("/slides/3.jpg");
  ASSERT_EQ(Run(source, target, 560, 420), 0) << output_.toStdString();
  const QImage slide(target);
  ASSERT_EQ(slide.size(), QSize(560, 420));
  EXPECT_GT(Count(slide, 0, 0, 255), 5000) << "the blue paragraph";
  EXPECT_GT(Count(slide, 0, 255, 0), 5000) << "the picture beside the page";
  EXPECT_EQ(Count(slide, 255, 0, 255), 0) << "a picture outside the project";
}

TEST_F(ThumbTest, TextPageIsWrittenFromTheTopLeft) {
  const QString source = project_ + QStringLiteral("/pages/notes.txt");
  QByteArray text;
  for (int i = 0; i < 5; ++i) text += "Fractions: add the numerators, keep the denominator\r\n";
  ASSERT_TRUE(WriteFile(source, text));
  const QString target = project_ + QStringLiteral("/slides/4.jpg");
  ASSERT_EQ(Run(source, target, 400, 300), 0) << output_.toStdString();
  const QImage slide(target);
  ASSERT_EQ(slide.size(), QSize(400, 300));
  const QImage top = slide.copy(0, 0, 400, 60);
  const QImage bottom = slide.copy(0, 200, 400, 100);
  EXPECT_GT(Count(top, 0, 0, 0), 100) << "text in the first lines";
  EXPECT_EQ(Count(bottom, 255, 255, 255), 400 * 100) << "the rest of the page stays blank";
}

TEST_F(ThumbTest, FailuresLeaveNoSlide) {
  const QString binary = project_ + QStringLiteral("/pages/data.txt");
  ASSERT_TRUE(WriteFile(binary, QByteArray("\x01\x00\x02\x00", 4)));
  const QString broken = project_ + QStringLiteral("/pages/broken.png");
  ASSERT_TRUE(WriteFile(broken, "not a picture"));
  const QString page = project_ + QStringLiteral("/pages/page.htm");
  ASSERT_TRUE(WriteFile(page, "<p>hello</p>"));
  const QString target = project_ + QStringLiteral("/slides/9.jpg");
  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
  } cases[] = {
      {"missing source",
       {Commas(project_ + "/pages/gone.htm"), Commas(target), "800", "600", "560", "420", "2000"},
       1},
      {"binary text page", {Commas(binary), Commas(target), "800", "600", "560", "420", "2000"}, 1},
      {"broken picture", {Commas(broken), Commas(target), "800", "600", "560", "420", "2000"}, 1},
      {"a folder", {Commas(project_), Commas(target), "800", "600", "560", "420", "2000"}, 1},
      {"zero width", {Commas(page), Commas(target), "800", "600", "0", "420", "2000"}, 2},
      {"not a number", {Commas(page), Commas(target), "800", "600", "560", "tall", "2000"}, 2},
      {"huge page", {Commas(page), Commas(target), "80000", "600", "560", "420", "2000"}, 2},
      {"missing argument", {Commas(page), Commas(target), "800", "600", "560", "420"}, 2},
  };
  for (const auto& c : cases) {
    int exitCode = -1;
    TestClips::RunProgram(Tool(), c.arguments, &exitCode);
    EXPECT_EQ(exitCode, c.exitCode) << c.name;
    EXPECT_FALSE(QFile::exists(target)) << c.name;
  }
  EXPECT_EQ(QDir(project_ + QStringLiteral("/slides")).entryList(QDir::Files | QDir::Hidden),
            QStringList());
}

}  // namespace
