#include "app/media/VideoProbe.h"

#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// A converter description of one input, as the front end prints it.
QString Description(const QString& duration, const QStringList& streams, const QString& tail = {}) {
  QString text = QStringLiteral("Input #0, mov,mp4, from 'x.mp4':\n  Duration: ") + duration +
                 QStringLiteral(", start: 0.000000, bitrate: 150 kb/s\n");
  for (const QString& stream : streams)
    text += QStringLiteral("  Stream #") + stream + QLatin1Char('\n');
  return text + tail;
}

const QString kH264 = QStringLiteral(
    "0.0[0x1](und): Video: h264 (High) (avc1 / 0x31637661), yuv420p(progressive), 720x480 [SAR 8:9 "
    "DAR 4:3], 46 kb/s, 30 fps");
const QString kAudio =
    QStringLiteral("0.1[0x2](und): Audio: aac (LC), 44100 Hz, stereo, fltp, 69 kb/s");
const QString kFrame =
    QStringLiteral("[Parsed_showinfo_0 @ 0x1] n: 0 pts: 0 s:720x480 i:P iskey:1\r\n");

struct ParseCase {
  const char* name;
  QString output;
  bool quiet;
  bool ok;
  QString failure;
  VideoInfo expected;
};

VideoInfo Info(const char* duration, int seconds, int w, int h, int dn, int dd, int dw, int dh,
               bool interlaced, bool wmv3 = false) {
  VideoInfo info;
  info.durationText = QString::fromLatin1(duration);
  info.secDuration = seconds;
  info.codedWidth = w;
  info.codedHeight = h;
  info.darNum = dn;
  info.darDen = dd;
  info.displayWidth = dw;
  info.displayHeight = dh;
  info.interlaced = interlaced;
  info.isWmv3 = wmv3;
  return info;
}

TEST(VideoProbeTest, ReadsTheConverterDescription) {
  const QString unknown = QStringLiteral("Unknown format!");
  const QString durErr = QStringLiteral("Cannot retrieve video duration!");
  const ParseCase cases[] = {
      {"seconds half rounds to even",
       Description("00:01:02.50", {kH264, kAudio}, kFrame),
       false,
       true,
       {},
       Info("00:01:02.50", 62, 720, 480, 4, 3, 720, 540, false)},
      {"odd half rounds up",
       Description("00:01:03.50", {kH264}, kFrame),
       false,
       true,
       {},
       Info("00:01:03.50", 64, 720, 480, 4, 3, 720, 540, false)},
      {"hours count",
       Description("01:00:00.40", {kH264}, kFrame),
       false,
       true,
       {},
       Info("01:00:00.40", 3600, 720, 480, 4, 3, 720, 540, false)},
      {"no progressive frame means interlaced",
       Description("00:00:10.00", {kH264}),
       false,
       true,
       {},
       Info("00:00:10.00", 10, 720, 480, 4, 3, 720, 540, true)},
      {"square pixels",
       Description("00:00:02.00", {"0.0: Video: h264, yuv420p, 640x360 [SAR 1:1 DAR 16:9], 30 fps"},
                   kFrame),
       false,
       true,
       {},
       Info("00:00:02.00", 2, 640, 360, 16, 9, 640, 360, false)},
      {"wmv3 takes its own size as aspect",
       Description("00:00:05.00", {"0.0: Video: wmv3 (Main), yuv420p, 640x480, 30 fps"}, kFrame),
       false,
       true,
       {},
       Info("00:00:05.00", 5, 640, 480, 640, 480, 640, 480, false, true)},
      {"no aspect keeps the coded height",
       Description("00:00:05.00", {"0.0: Video: mpeg4, yuv420p, 352x288, 25 fps"}, kFrame),
       false,
       true,
       {},
       Info("00:00:05.00", 5, 352, 288, 0, 0, 352, 288, false)},
      {"an aspect with a zero side keeps the coded height",
       Description("00:00:05.00", {"0.0: Video: mpeg4, 352x288 [SAR 0:1 DAR 4:0], 25 fps"}, kFrame),
       false,
       true,
       {},
       Info("00:00:05.00", 5, 352, 288, 4, 0, 352, 288, false)},
      {"two video streams",
       Description("00:00:05.00", {kH264, "0.1: Video: h264, 320x240, 30 fps"}),
       false,
       false,
       "Multi-stream video is not supported!",
       {}},
      {"streams written with a colon count as one",
       Description(
           "00:00:05.00",
           {"0:0: Video: h264, 720x480 [SAR 8:9 DAR 4:3], 30", "0:1: Video: h264, 320x240, 30"},
           kFrame),
       false,
       true,
       {},
       Info("00:00:05.00", 5, 720, 480, 4, 3, 720, 540, false)},
      {"streams 1 and 10 are two streams",
       Description("00:00:05.00",
                   {"0.1: Video: h264, 320x240, 30", "0.10: Video: h264, 320x240, 30"}),
       false,
       false,
       "Multi-stream video is not supported!",
       {}},
      {"output streams are not counted",
       Description(
           "00:00:05.00", {kH264},
           QStringLiteral("Output #0, image2:\n  Stream #0.1: Video: bmp, 720x480, 30\n") + kFrame),
       false,
       true,
       {},
       Info("00:00:05.00", 5, 720, 480, 4, 3, 720, 540, false)},
      {"unknown duration", Description("N/A", {kH264}), false, false, durErr, {}},
      {"a duration of two parts", Description("01:02", {kH264}), false, false, durErr, {}},
      {"no duration",
       QStringLiteral("Stream #0.0: Video: h264, 720x480\n"),
       false,
       false,
       durErr,
       {}},
      {"no duration in the batch dialog",
       QStringLiteral("Stream #0.0: Video: h264, 720x480\n"),
       true,
       false,
       "Cannot get video duration!",
       {}},
      {"no size token",
       Description("00:00:05.00", {"0.0: Video: h264, yuv420p, 30 fps"}),
       false,
       false,
       "Cannot get video size!",
       {}},
      {"no video line",
       Description("00:00:05.00", {kAudio}),
       false,
       false,
       "Cannot get video size!",
       {}},
      {"a size of zero is skipped",
       Description("00:00:05.00", {"0.0: Video: rawvideo, 0x0, 320x240, 30 fps"}, kFrame),
       false,
       true,
       {},
       Info("00:00:05.00", 5, 320, 240, 0, 0, 320, 240, false)},
      {"an absurd size is not a size",
       Description("00:00:05.00", {"0.0: Video: h264, 99999999999x2, 30 fps"}),
       false,
       false,
       "Cannot get video size!",
       {}},
      {"unknown format", "x: Unknown format\n", false, false, unknown, {}},
      {"no stream", "Output file #0 does not contain any stream\n", false, false, unknown, {}},
      {"invalid data",
       "x.mp4: Invalid data found when processing input\n",
       false,
       false,
       unknown,
       {}},
      {"broken filters", "Error opening filters!\n", false, false, unknown, {}},
      {"open error", "Error while opening file x\n", false, false, "Open file error!", {}},
      {"missing file", "x.mp4: No such file or directory\n", false, false, "No such file!", {}},
  };
  for (const auto& c : cases) {
    VideoInfo info;
    QString failure;
    EXPECT_EQ(ParseProbeOutput(c.output, c.quiet, &info, &failure), c.ok) << c.name;
    EXPECT_EQ(failure, c.failure) << c.name;
    if (!c.ok) continue;
    const VideoInfo& e = c.expected;
    EXPECT_EQ(info.durationText, e.durationText) << c.name;
    EXPECT_EQ(info.secDuration, e.secDuration) << c.name;
    EXPECT_EQ(info.codedWidth, e.codedWidth) << c.name;
    EXPECT_EQ(info.codedHeight, e.codedHeight) << c.name;
    EXPECT_EQ(info.darNum, e.darNum) << c.name;
    EXPECT_EQ(info.darDen, e.darDen) << c.name;
    EXPECT_EQ(info.displayWidth, e.displayWidth) << c.name;
    EXPECT_EQ(info.displayHeight, e.displayHeight) << c.name;
    EXPECT_EQ(info.interlaced, e.interlaced) << c.name;
    EXPECT_EQ(info.isWmv3, e.isWmv3) << c.name;
  }
}

class VideoProbeClipsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir();
    const QString lavfi = QStringLiteral("lavfi");
    const auto path = [](const char* name) { return folder_->filePath(QString::fromLatin1(name)); };
    TestClips::MakeVideo(path("progressive.mp4"), 2, QStringLiteral("320x240"));
    TestClips::Make(path("interlaced.mpg"),
                    {"-f", lavfi, "-i", "testsrc=size=160x120:rate=30:duration=1", "-vf",
                     "tinterlace=interleave_top,setfield=tff", "-c:v", "mpeg2video", "-flags",
                     "+ilme+ildct", "-top", "1"});
    TestClips::Make(path("dar43.mp4"),
                    {"-f", lavfi, "-i", "testsrc=size=720x480:rate=30:duration=1", "-aspect", "4:3",
                     "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "ultrafast"});
    TestClips::Make(path("square.mp4"),
                    {"-f", lavfi, "-i", "testsrc=size=640x360:rate=30:duration=1", "-pix_fmt",
                     "yuv420p", "-c:v", "libx264", "-preset", "ultrafast"});
    TestClips::Make(path("two.mkv"), {"-f", lavfi, "-i", "testsrc=size=160x120:duration=1", "-f",
                                      lavfi, "-i", "testsrc2=size=160x120:duration=1", "-map", "0",
                                      "-map", "1", "-c:v", "libx264", "-preset", "ultrafast"});
    TestClips::Make(path("audio.m4a"), {"-f", lavfi, "-i", "sine=duration=1", "-c:a", "aac"});
    QFile whole(path("progressive.mp4"));
    QFile truncated(path("truncated.mp4"));
    if (whole.open(QIODevice::ReadOnly) && truncated.open(QIODevice::WriteOnly)) {
      truncated.write(whole.read(whole.size() / 3));
    }
    QFile text(path("notes.mp4"));
    if (text.open(QIODevice::WriteOnly)) text.write("These are my lecture notes, not a video.\n");
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    SetProgramFolder(TestClips::ProgramFolder());
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      shown_.append(request.text);
      return MsgAnswer::Ok;
    });
  }
  void TearDown() override {
    SetMessageHandler(previous_);
    SetProgramFolder({});
  }

  static QTemporaryDir* folder_;
  MessageHandler previous_;
  QStringList shown_;
};

QTemporaryDir* VideoProbeClipsTest::folder_ = nullptr;

TEST_F(VideoProbeClipsTest, ProbesGeneratedClips) {
  const struct {
    const char* file;
    bool ok;
    QString failure;
    int width, height, darNum, darDen, displayHeight, seconds;
    bool interlaced;
  } cases[] = {
      {"progressive.mp4", true, {}, 320, 240, 4, 3, 240, 2, false},
      {"interlaced.mpg", true, {}, 160, 120, 4, 3, 120, 1, true},
      {"dar43.mp4", true, {}, 720, 480, 4, 3, 540, 1, false},
      {"square.mp4", true, {}, 640, 360, 16, 9, 360, 1, false},
      {"two.mkv", false, "Multi-stream video is not supported!", 0, 0, 0, 0, 0, 0, false},
      {"audio.m4a", false, "Unknown format!", 0, 0, 0, 0, 0, 0, false},
      {"truncated.mp4", false, "Unknown format!", 0, 0, 0, 0, 0, 0, false},
      {"notes.mp4", false, "Unknown format!", 0, 0, 0, 0, 0, 0, false},
      {"missing.mp4", false, "No such file!", 0, 0, 0, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    shown_.clear();
    VideoInfo info;
    QString failure;
    const bool ok =
        ProbeVideo(folder_->filePath(QString::fromLatin1(c.file)), false, &info, &failure);
    EXPECT_EQ(ok, c.ok) << c.file;
    EXPECT_EQ(failure, c.failure) << c.file;
    EXPECT_TRUE(shown_.isEmpty()) << c.file;  // the caller shows the failure
    if (!ok) continue;
    EXPECT_EQ(info.codedWidth, c.width) << c.file;
    EXPECT_EQ(info.codedHeight, c.height) << c.file;
    EXPECT_EQ(info.darNum, c.darNum) << c.file;
    EXPECT_EQ(info.darDen, c.darDen) << c.file;
    EXPECT_EQ(info.displayWidth, c.width) << c.file;
    EXPECT_EQ(info.displayHeight, c.displayHeight) << c.file;
    EXPECT_EQ(info.secDuration, c.seconds) << c.file;
    EXPECT_EQ(info.interlaced, c.interlaced) << c.file;
  }
  // The probe's picture is removed afterwards.
  EXPECT_TRUE(QDir::temp().entryList({QStringLiteral("vu_*")}).isEmpty());
}

TEST_F(VideoProbeClipsTest, QuietProbeShowsNothingAndHandlesOddNames) {
  // A name holding quotes and blanks stays one argument and is never read as options.
  const QString odd = folder_->filePath(QStringLiteral("a \"b\" -f null c.mp4"));
  ASSERT_TRUE(QFile::copy(folder_->filePath(QStringLiteral("progressive.mp4")), odd));
  VideoInfo info;
  EXPECT_TRUE(ProbeVideo(odd, true, &info));
  EXPECT_EQ(info.codedWidth, 320);
  QString failure;
  EXPECT_FALSE(ProbeVideo(folder_->filePath(QStringLiteral("notes.mp4")), true, &info, &failure));
  EXPECT_EQ(failure, QStringLiteral("Unknown format!"));
  EXPECT_TRUE(shown_.isEmpty());
}

}  // namespace
