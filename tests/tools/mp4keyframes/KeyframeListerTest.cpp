// mp4GetKeyFrame as the conversion runs it: "mp4GetKeyFrame VIDEO LIST".

#include "TestFiles.h"
#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

QString Tool() { return TestClips::ProgramFolder() + QStringLiteral("/mp4GetKeyFrame"); }

TEST(KeyframeListerTest, ListsOneTimePerKeyframe) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const struct {
    int gop;
    int seconds;
    bool audio;
    const char* expected;
  } cases[] = {
      {30, 3, true, "0\n1\n2\n"},
      {15, 2, false, "0\n0.5\n1\n1.5\n"},
      {20, 1, false, "0\n0.667\n"},
  };
  for (const auto& c : cases) {
    const QString video = folder.filePath(QStringLiteral("video_%1.mp4").arg(c.gop));
    QStringList args = {"-f", "lavfi", "-i",
                        QStringLiteral("testsrc=size=160x120:rate=30:duration=%1").arg(c.seconds)};
    if (c.audio)
      args +=
          {"-f", "lavfi", "-i", QStringLiteral("sine=duration=%1").arg(c.seconds), "-c:a", "aac"};
    args += {"-pix_fmt",     "yuv420p",
             "-c:v",         "libx264",
             "-x264-params", QStringLiteral("keyint=%1:min-keyint=%1:scenecut=0").arg(c.gop)};
    ASSERT_TRUE(TestClips::Make(video, args));
    const QString list = folder.filePath(QStringLiteral("keyframe.txt"));
    int exitCode = -1;
    const QString console = TestClips::RunProgram(Tool(), {video, list}, &exitCode);
    EXPECT_EQ(exitCode, 0) << console.toStdString();
    EXPECT_EQ(ReadFile(list), QByteArray(c.expected)) << "gop " << c.gop;
  }
}

TEST(KeyframeListerTest, FailureLeavesNoList) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString audio = folder.filePath(QStringLiteral("audio.m4a"));
  ASSERT_TRUE(TestClips::Make(audio, {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac"}));
  const QString video = folder.filePath(QStringLiteral("video.mp4"));
  ASSERT_TRUE(TestClips::MakeVideo(video, 1));
  const QString list = folder.filePath(QStringLiteral("keyframe.txt"));
  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
  } cases[] = {
      {"no video stream", {audio, list}, 1},
      {"missing video", {folder.filePath(QStringLiteral("gone.mp4")), list}, 1},
      {"list folder missing", {video, folder.filePath(QStringLiteral("none/keyframe.txt"))}, 1},
      {"no list named", {video}, 2},
  };
  for (const auto& c : cases) {
    int exitCode = -1;
    TestClips::RunProgram(Tool(), c.arguments, &exitCode);
    EXPECT_EQ(exitCode, c.exitCode) << c.name;
    EXPECT_FALSE(QFile::exists(list)) << c.name;
    EXPECT_FALSE(QFile::exists(list + QStringLiteral(".part"))) << c.name;
  }
}

}  // namespace
