// Every command line the program builds, run for real on paths that hold what file names may:
// quotes, "$()", backquotes, ";", a leading "-", blanks and letters beyond ASCII. Each tool must
// get the real file, nothing may run that the names spell, and files beside them stay untouched.
// New command lines get a case here.

#include "TestFiles.h"
#include "app/media/ProcessRunner.h"
#include "app/media/RunContext.h"
#include "app/media/VideoInfo.h"
#include "app/media/VideoProbe.h"
#include "app/project/CProjectFile.h"
#include "app/project/KqLibrary.h"
#include "app/queue/ProjectSlides.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadPackage.h"
#include "app/queue/VideoConverter.h"
#include "app/services/ProgramFolder.h"
#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

using cf::VideoConverter;

// One folder name that holds every kind of hostile text at once.
const QString kHostile =
    QStringLiteral("-x \"q\" 'a' $(touch pwned) `touch pwned2` ; \u00fc\u540d");

cf::UploadJob ConversionJob(const QString& source) {
  cf::UploadJob job;
  job.path = source;
  job.fileName = QFileInfo(source).fileName();
  job.dstCvtType = 0;
  job.videoWidth = 160;
  job.videoHeight = 120;
  job.secDuration = 2;
  job.duration = QStringLiteral("0:00:02");
  job.vBitRate = QStringLiteral("100k");
  job.aBitRate = QStringLiteral("32k");
  return job;
}

class HostileCommandLinesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    SetProgramFolder(TestClips::ProgramFolder());
    folder_ = root_.filePath(kHostile);
    ASSERT_TRUE(QDir().mkpath(folder_));
    source_ = folder_ + QStringLiteral("/") + kHostile + QStringLiteral(".mp4");
    // Long enough for the pictures, which are taken one second in.
    ASSERT_TRUE(TestClips::MakeVideo(source_, 2));
  }
  void TearDown() override {
    // Nothing the names spell may have run, here or where the program stands.
    QDirIterator here(root_.path(), {QStringLiteral("pwned*")}, QDir::Files,
                      QDirIterator::Subdirectories);
    EXPECT_FALSE(here.hasNext()) << here.next().toStdString();
    EXPECT_TRUE(QDir::current().entryList({QStringLiteral("pwned*")}).isEmpty());
    SetProgramFolder({});
  }

  int Convert(const QString& source, const QString& work, bool mp4) {
    RunContext context;
    VideoConverter converter(ConversionJob(source), cf::ConversionSettings{mp4, true, 1, false},
                             context);
    const int result = converter.ConvertVideo(source, work);
    description_ = converter.errorDescription();
    output_ = context.outputText;
    return result;
  }

  QTemporaryDir root_;
  QString folder_;
  QString source_;
  QString description_;
  QString output_;
};

TEST_F(HostileCommandLinesTest, Mp4ConversionKeyframesAndPictures) {
  const QString work = folder_ + QStringLiteral("/work ") + kHostile;
  ASSERT_TRUE(QDir().mkpath(work));
  ASSERT_EQ(Convert(source_, work, true), VideoConverter::kFinished)
      << description_.toStdString() << output_.toStdString();
  const QDir out(work);
  // Encoded and interleaved, keyframes listed, both pictures, the source copy.
  EXPECT_TRUE(TestClips::Probe(out.filePath(QStringLiteral("video.mp4")),
                               QStringLiteral("stream=codec_name"))
                  .contains(QStringLiteral("h264")));
  EXPECT_TRUE(ReadFile(out.filePath(QStringLiteral("video.xml"))).contains("<value"));
  for (const char* name : {"video.jpg", "thumb.jpg", "src.mp4", "fileList.xml"}) {
    EXPECT_GT(QFileInfo(out.filePath(QString::fromLatin1(name))).size(), 0) << name;
  }
}

TEST_F(HostileCommandLinesTest, FlvConversionInjectsMetadata) {
  // A line break inside and a backslash at the end, where it would escape a closing quote.
  const QString source = folder_ + QStringLiteral("/line\nbreak.mp4\\");
  ASSERT_TRUE(QFile::copy(source_, source));
  const QString work = folder_ + QStringLiteral("/flv ") + kHostile;
  ASSERT_TRUE(QDir().mkpath(work));
  ASSERT_EQ(Convert(source, work, false), VideoConverter::kFinished)
      << description_.toStdString() << output_.toStdString();
  EXPECT_GT(QFileInfo(work + QStringLiteral("/video.flv")).size(), 0);
  EXPECT_TRUE(ReadFile(work + QStringLiteral("/video.xml")).contains("<width>160</width>"));
  EXPECT_FALSE(QFileInfo::exists(work + QStringLiteral("/video.tmp.flv")));
}

TEST_F(HostileCommandLinesTest, QuoteInTheFolderCannotAddConverterArguments) {
  // Read by a quote-unaware command line, this folder's name ends the input at "v" and names
  // important.txt as one more output.
  const QString important = root_.filePath(QStringLiteral("important.txt"));
  ASSERT_TRUE(WriteFile(important, "keep me"));
  ASSERT_TRUE(TestClips::MakeVideo(root_.filePath(QStringLiteral("v.mp4")), 1));
  ASSERT_TRUE(QFile::rename(root_.filePath(QStringLiteral("v.mp4")), root_.filePath("v")));
  // The tail keeps whatever a misread line would write inside this test's folder.
  const QString folder = root_.filePath(QStringLiteral("v\" -f mp4 ")) + important +
                         QStringLiteral(" \"") + root_.filePath(QStringLiteral("tail"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString source = folder + QStringLiteral("/clip.mp4");
  ASSERT_TRUE(TestClips::MakeVideo(source, 2, QStringLiteral("128x96")));
  const QString work = root_.filePath(QStringLiteral("work"));
  ASSERT_TRUE(QDir().mkpath(work));

  RunContext context;
  cf::UploadJob job = ConversionJob(source);
  job.videoWidth = 128;
  job.videoHeight = 96;
  VideoConverter converter(job, cf::ConversionSettings{true, false, 1, false}, context);
  const int result = converter.ConvertVideo(source, work);
  EXPECT_EQ(ReadFile(important), QByteArray("keep me"));
  ASSERT_EQ(result, VideoConverter::kFinished) << context.outputText.toStdString();
  EXPECT_TRUE(
      TestClips::Probe(work + QStringLiteral("/video.mp4"), QStringLiteral("stream=width,height"))
          .contains(QStringLiteral("width=128\nheight=96")));
}

TEST_F(HostileCommandLinesTest, PathThatCannotBePassedFailsTheJobWithItsReason) {
  // The bytes of a name that is not UTF-8 are gone by the time it is a path here.
  const QString lost = root_.filePath(QStringLiteral("caf\uFFFD/clip.mp4"));
  const QString work = root_.filePath(QStringLiteral("work"));
  ASSERT_TRUE(QDir().mkpath(work));
  const int result = Convert(lost, work, true);
  EXPECT_EQ(result, VideoConverter::kUnsafePath);
  const QString text = VideoConverter::FailureText(result, description_);
  EXPECT_TRUE(text.contains(QStringLiteral("UTF-8"))) << text.toStdString();
  EXPECT_TRUE(text.contains(lost)) << text.toStdString();
  EXPECT_TRUE(QDir(work).isEmpty());
}

TEST_F(HostileCommandLinesTest, ProbeReadsTheRealFile) {
  VideoInfo info;
  QString failure;
  ASSERT_TRUE(ProbeVideo(source_, true, &info, &failure)) << failure.toStdString();
  EXPECT_EQ(info.codedWidth, 160);
  EXPECT_EQ(info.codedHeight, 120);

  // The same file named relative to the current folder: its name starts with "-".
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(folder_));
  const bool relative = ProbeVideo(QFileInfo(source_).fileName(), true, &info, &failure);
  QDir::setCurrent(previous);
  EXPECT_TRUE(relative) << failure.toStdString();
  EXPECT_EQ(info.codedWidth, 160);
}

TEST_F(HostileCommandLinesTest, PackingStoresTheRealNames) {
  const QString work = folder_ + QStringLiteral("/pack");
  const QString inner = kHostile + QStringLiteral(" dir");
  ASSERT_TRUE(QDir().mkpath(work + QStringLiteral("/") + inner));
  ASSERT_TRUE(WriteFile(work + QStringLiteral("/") + kHostile, "top"));
  ASSERT_TRUE(WriteFile(work + QStringLiteral("/") + inner + QStringLiteral("/") + kHostile, "in"));
  const QString archive = folder_ + QStringLiteral("/") + kHostile + QStringLiteral(".zip");

  ASSERT_TRUE(cf::UploadPackage::Pack(work, archive));
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
  ASSERT_TRUE(unzip.waitForFinished(30000));
  const QString names = QString::fromUtf8(unzip.readAllStandardOutput());
  EXPECT_EQ(names, kHostile + QStringLiteral("\n") + inner + QStringLiteral("/\n") + inner +
                       QStringLiteral("/") + kHostile + QStringLiteral("\n"));
}

TEST_F(HostileCommandLinesTest, SlideRendererGetsTheLinkedPage) {
  const QString project = folder_ + QStringLiteral("/project ") + kHostile;
  ASSERT_TRUE(QDir().mkpath(project + QStringLiteral("/pages")));
  const QString url = QStringLiteral("pages/") + kHostile + QStringLiteral(".html");
  ASSERT_TRUE(
      WriteFile(project + QStringLiteral("/") + url, "<html><body><h1>Slide</h1></body></html>"));
  cf::CProjectFile file;
  cf::KqLibrary library;
  const cf::ProjectSlides slides(project, file, library, 160, 120, [](const QString&) {});

  const QString command = slides.ThumbCommand(1, url);
  ASSERT_FALSE(command.isEmpty());
  ASSERT_TRUE(RunHidden(command));
  EXPECT_GT(QFileInfo(project + QStringLiteral("/slides/1.jpg")).size(), 0)
      << command.toStdString();
  // A real "," would come back as a blank and name another file: such a page is not rendered.
  EXPECT_TRUE(slides.ThumbCommand(2, QStringLiteral("pages/a,b.html")).isEmpty());
}

}  // namespace
