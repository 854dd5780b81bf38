// The converter front end driven the way the conversion drives it: the two-pass command lines
// assembled piece by piece, run through the captured runner, and the picture commands.

#include "app/media/ProcessRunner.h"
#include "app/media/RunContext.h"
#include "app/services/ProgramFolder.h"
#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

struct Encode {
  QString source;
  QString output;
  bool deinterlace = true;
  QString audioBitrate = QStringLiteral("64k");
  int threads = 1;
  int width = 320;
  int height = 240;
  QString videoBitrate = QStringLiteral("300k");
  int gop = 60;
};

// One pass as the conversion assembles it, piece by piece.
QString PassCommand(const Encode& e, int pass) {
  return ProgramFolder() + QStringLiteral("/ffmpeg -y ") +
         (e.deinterlace ? QStringLiteral("-deinterlace ") : QString()) + QStringLiteral("-i \"") +
         e.source + QStringLiteral("\" -map_chapters -1:0 -acodec libfaac -ac 2 -ab ") +
         e.audioBitrate + QStringLiteral(" -ar 44100 -vcodec libx264 -threads ") +
         QString::number(e.threads) + QStringLiteral(" -vsync 1 -s ") +
         QStringLiteral("%1x%2").arg(e.width).arg(e.height) + QStringLiteral(" -aspect ") +
         QStringLiteral("%1:%2").arg(e.width).arg(e.height) + QStringLiteral(" -b ") +
         e.videoBitrate + QStringLiteral(" -r 30 -g ") + QString::number(e.gop) +
         QStringLiteral(
             " -level 30 -coder 1 -flags +loop -cmp +chroma -partitions "
             "+parti4x4+parti8x8+partp8x8+partb8x8 -me_method umh -subq 7 -me_range 16 -i_qfactor "
             "0.71 -b_strategy 2 -qcomp 0.6 -qmin 10 -qmax ") +
         QStringLiteral("51") +
         QStringLiteral(
             " -qdiff 4 -bf 1 -refs 1 -directpred 1 -trellis 2 -flags2 "
             "+bpyramid+mixed_refs+wpred+fastpskip+mbtree -wpredp 2 -pass %1 -passlogfile log \"")
             .arg(pass) +
         e.output + QStringLiteral("\"");
}

class ConverterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(work_.isValid());
    SetProgramFolder(TestClips::ProgramFolder());
    source_ = work_.filePath(QStringLiteral("lecture source.mp4"));
    ASSERT_TRUE(TestClips::MakeVideo(source_, 2, QStringLiteral("320x240")));
  }
  void TearDown() override { SetProgramFolder({}); }

  QTemporaryDir work_;
  QString source_;
};

TEST_F(ConverterTest, TwoPassEncodeMakesTheVideoAndReportsEachHalf) {
  Encode encode;
  encode.source = source_;
  encode.output = work_.filePath(QStringLiteral("video_hd.mp4"));
  encode.width = 256;
  encode.height = 192;

  RunContext context;
  context.parseProgress = true;
  context.totalSeconds = 2;
  context.labelText = QStringLiteral("Converting");
  context.durationText = QStringLiteral("0:00:02");
  context.workFolder = work_.path();
  context.workingFolder = work_.path();  // the passes share their statistics through it
  QList<double> percents[3];
  QObject::connect(&context, &RunContext::progressChanged, [&](const QString&, double percent) {
    percents[context.passNumber].append(percent);
  });

  for (const short pass : {1, 2}) {
    context.passNumber = pass;
    RunCaptured(PassCommand(encode, pass), true, context);
    ASSERT_EQ(context.stepResult, 1) << context.outputText.toStdString();
  }
  ASSERT_FALSE(percents[1].isEmpty());
  ASSERT_FALSE(percents[2].isEmpty());
  for (const double percent : percents[1]) EXPECT_TRUE(percent >= 0 && percent <= 50) << percent;
  for (const double percent : percents[2]) EXPECT_TRUE(percent >= 50 && percent <= 100) << percent;
  EXPECT_EQ(percents[1].last(), 50);
  EXPECT_EQ(percents[2].last(), 100);
  EXPECT_TRUE(context.progressText.startsWith(QStringLiteral("Converting 0:00:02 (remains ")));
  EXPECT_TRUE(QFileInfo(work_.filePath(QString::fromLatin1(kDosOutputName))).size() > 0);

  const QString streams = TestClips::Probe(
      encode.output, QStringLiteral("stream=codec_name,width,height,pix_fmt,channels,sample_rate"));
  EXPECT_TRUE(
      streams.contains(QStringLiteral("codec_name=h264\nwidth=256\nheight=192\npix_fmt=yuv420p")))
      << streams.toStdString();
  EXPECT_TRUE(streams.contains(QStringLiteral("codec_name=aac\nsample_rate=44100\nchannels=2")))
      << streams.toStdString();
}

TEST_F(ConverterTest, PictureCommandsWriteOnePictureEach) {
  RunContext context;
  const QString folder = work_.path();
  RunCaptured(QStringLiteral("ffmpeg -i \"") + source_ +
                  QStringLiteral("\" -ss 1 -vframes 1 -s 320x240 -f image2 \"") + folder +
                  QStringLiteral("/video.jpg\""),
              false, context);
  RunCaptured(QStringLiteral("ffmpeg -i \"") + source_ +
                  QStringLiteral("\" -ss 1 -vframes 1 -s 160x120 -f image2 \"") + folder +
                  QStringLiteral("/thumb.jpg\""),
              false, context);
  EXPECT_EQ(QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name),
            QStringList({"thumb.jpg", "video.jpg"}));
  EXPECT_EQ(TestClips::Probe(work_.filePath(QStringLiteral("video.jpg")),
                             QStringLiteral("stream=width,height")),
            QStringLiteral("width=320\nheight=240\n"));
  EXPECT_EQ(TestClips::Probe(work_.filePath(QStringLiteral("thumb.jpg")),
                             QStringLiteral("stream=width,height")),
            QStringLiteral("width=160\nheight=120\n"));
}

TEST_F(ConverterTest, ConsoleTextCarriesTheMarkersTheProgramReads) {
  RunContext context;
  context.outputLimit = 1 << 20;
  const QString output = RunCaptured(
      QStringLiteral("ffmpeg -i \"") + source_ + QStringLiteral("\" -vframes 30 -f null -"), false,
      context);
  EXPECT_TRUE(output.contains(QStringLiteral("Duration: 00:00:02.00,"))) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("Stream #0.0"))) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("Stream #0.1"))) << output.toStdString();
  EXPECT_FALSE(output.contains(QStringLiteral("Stream #0:"))) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("Output #0"))) << output.toStdString();
  EXPECT_TRUE(output.contains(QRegularExpression(QStringLiteral("time=\\d+\\.\\d\\d "))))
      << output.toStdString();
  EXPECT_FALSE(output.contains(QStringLiteral("time=00:"))) << output.toStdString();

  // A missing input reads as the probe expects.
  const QString missing =
      RunCaptured(QStringLiteral("ffmpeg -i \"") + work_.filePath(QStringLiteral("gone.mp4")) +
                      QStringLiteral("\" -f null -"),
                  false, context);
  EXPECT_TRUE(missing.contains(QStringLiteral("No such file"), Qt::CaseInsensitive))
      << missing.toStdString();
}

}  // namespace
