// clipferry-cli probe, run as a user runs it.

#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

QString Cli() { return TestClips::ProgramFolder() + QStringLiteral("/clipferry-cli"); }

TEST(ProbeCommandTest, PrintsTheFieldsOrTheFailure) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString clip = folder.filePath(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(TestClips::Make(
      clip, {"-f", "lavfi", "-i", "testsrc=size=720x480:rate=30:duration=2", "-aspect", "4:3",
             "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "ultrafast"}));
  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
    QString output;
  } cases[] = {
      {"a video",
       {"probe", clip},
       0,
       "durationText=00:00:02.00\nsecDuration=2\ncodedWidth=720\ncodedHeight=480\ndarNum=4\ndarDen="
       "3\n"
       "displayWidth=720\ndisplayHeight=540\ninterlaced=false\nisWmv3=false\n"},
      {"as JSON",
       {"probe", "--json", clip},
       0,
       "{\"codedHeight\":480,\"codedWidth\":720,\"darDen\":3,\"darNum\":4,\"displayHeight\":540,"
       "\"displayWidth\":720,\"durationText\":\"00:00:02.00\",\"interlaced\":false,"
       "\"isWmv3\":false,\"secDuration\":2}\n"},
      {"program folder given",
       {"--program-folder", TestClips::ProgramFolder(), "probe", clip},
       0,
       {}},
      {"missing file",
       {"probe", folder.filePath(QStringLiteral("gone.mp4"))},
       1,
       "No such file!\n"},
      {"program folder without the converter",
       {"--program-folder", folder.path(), "probe", clip},
       1,
       {}},
      {"program folder missing",
       {"--program-folder", folder.filePath(QStringLiteral("none")), "probe", clip},
       2,
       {}},
      {"no file", {"probe"}, 2, {}},
      {"unknown command", {"transcode", clip}, 2, {}},
  };
  for (const auto& c : cases) {
    int exitCode = -1;
    const QString output = TestClips::RunProgram(Cli(), c.arguments, &exitCode);
    EXPECT_EQ(exitCode, c.exitCode) << c.name << ": " << output.toStdString();
    if (!c.output.isNull()) {
      EXPECT_EQ(output, c.output) << c.name;
    }
  }
}

}  // namespace
