#include "TestProgramFolder.h"
#include "app/media/RunContext.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/VideoConverter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using cf::VideoConverter;

TEST(VideoConverter, EncoderNumbersFollowTheLengthSizeAndMachine) {
  struct Gop {
    int seconds;
    const char* gop;
  };
  for (const Gop& c : {Gop{29 * 60, "60"}, Gop{30 * 60 - 1, "60"}, Gop{35 * 60, "90"},
                       Gop{40 * 60, "120"}, Gop{65 * 60, "180"}}) {
    EXPECT_EQ(VideoConverter::GopLength(c.seconds), QString::fromLatin1(c.gop)) << c.seconds;
  }
  EXPECT_EQ(VideoConverter::SizeText(720, 540), QStringLiteral("720x600"));
  EXPECT_EQ(VideoConverter::SizeText(720, 480), QStringLiteral("720x480"));
  EXPECT_EQ(VideoConverter::EncoderThreads(4, false), 1);
  EXPECT_EQ(VideoConverter::EncoderThreads(4, true), 4);
  EXPECT_EQ(VideoConverter::EncoderThreads(2, false), 2);
}

TEST(VideoConverter, PassCommandKeepsTheAspectOfTheRealSize) {
  TestProgramFolder program;
  cf::UploadJob job;
  job.videoWidth = 720;
  job.videoHeight = 540;
  job.secDuration = 35 * 60;
  job.vBitRate = QStringLiteral("800k");
  job.aBitRate = QStringLiteral("64k");
  job.bInterlaced = true;
  RunContext context;
  cf::UploadQueue store;
  cf::QueueGridModel grid(store);
  VideoConverter converter(job, cf::ConversionSettings{true, false, 4, false}, context, grid);

  const QString first =
      converter.PassCommand(QStringLiteral("/v/in.avi"), QStringLiteral("/w/video.mp4"), 1, true);
  EXPECT_TRUE(first.endsWith(QStringLiteral(
      "/ffmpeg -y -deinterlace -i \"/v/in.avi\" -map_chapters -1:0 -acodec libfaac -ac 2 "
      "-ab 64k -ar 44100 -vcodec libx264 -threads 1 -vsync 1 -s 720x600 "
      "-aspect 720:540 -b 800k -r 30 -g 90 -level 30 -coder 1 -flags +loop "
      "-cmp +chroma -partitions +parti4x4+parti8x8+partp8x8+partb8x8 "
      "-me_method umh -subq 7 -me_range 16 -i_qfactor 0.71 -b_strategy 2 "
      "-qcomp 0.6 -qmin 10 -qmax 51 -qdiff 4 -bf 1 -refs 1 -directpred 1 "
      "-trellis 2 -flags2 +bpyramid+mixed_refs+wpred+fastpskip+mbtree "
      "-wpredp 2 -pass 1 -passlogfile log \"/w/video.mp4\"")))
      << first.toStdString();
  const QString second =
      converter.PassCommand(QStringLiteral("/v/in.avi"), QStringLiteral("/w/video.mp4"), 2, false);
  EXPECT_TRUE(second.contains(QStringLiteral(" -y -i \"/v/in.avi\"")));
  EXPECT_TRUE(second.contains(QStringLiteral(" -pass 2 -passlogfile log ")));
}

TEST(VideoConverter, CopyWithoutReencodingNeedsTwiceTheSourceFree) {
  TestProgramFolder program;
  QTemporaryDir work;
  cf::UploadJob job;
  job.dstCvtType = 2;
  job.path = QStringLiteral("/proc/self/exe");
  RunContext context;
  cf::UploadQueue store;
  cf::QueueGridModel grid(store);
  VideoConverter converter(job, cf::ConversionSettings{}, context, grid);
  // /proc reports no free space at all.
  EXPECT_EQ(converter.ConvertVideo(job.path, QStringLiteral("/proc")), VideoConverter::kNoSpace);
  EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/video.mp4")));
}

}  // namespace
