#include "app/media/OutputFollower.h"

#include "app/media/RunContext.h"
#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

struct ProgressCase {
  const char* name;
  short pass;
  int totalSeconds;
  QStringList chunks;
  double elapsedSeconds;
  QString lastTime;
  double percent;
  QString remaining;
};

TEST(OutputFollowerTest, FollowsProgressThroughBothPasses) {
  const ProgressCase cases[] = {
      {"single run", 0, 100, {"frame=  30 fps=0 time=50.00 bitrate=1k"}, 10, "50.00", 50, "<1"},
      {"first pass is the first half", 1, 100, {"time=50.00 "}, 600, "50.00", 25, "30"},
      {"second pass is the second half", 2, 100, {"time=50.00 "}, 600, "50.00", 75, "3"},
      {"past the end shows 100", 0, 10, {"time=12.00 "}, 10, "12.00", 100, "<1"},
      {"second pass past the end", 2, 10, {"time=11.00 "}, 10, "11.00", 100, "<1"},
      {"first pass past the end stays in its half", 1, 10, {"time=10.10 "}, 10, "10.10", 50, "<1"},
      {"last marker of a chunk counts",
       0,
       100,
       {"time=10.00 a\rframe= time=40.00 b"},
       60,
       "40.00",
       40,
       "2"},
      {"marker without its blank waits",
       0,
       100,
       {"time=20.00 x", "frame= time=30.0"},
       60,
       "20.00",
       20,
       "4"},
      {"one decimal", 0, 3, {"time=1.00 "}, 1, "1.00", 33.3, "<1"},
      {"unknown length gives no percentage", 0, 0, {"time=5.00 "}, 5, "5.00", 0, "--"},
      {"unreadable time", 0, 100, {"time=N/A bitrate"}, 5, "N/A", 0, "--"},
  };
  for (const auto& c : cases) {
    RunContext context;
    context.parseProgress = true;
    context.passNumber = c.pass;
    context.totalSeconds = c.totalSeconds;
    context.labelText = QStringLiteral("Converting");
    context.durationText = QStringLiteral("0:01:40");
    OutputFollower follower(context);
    for (const QString& chunk : c.chunks) {
      EXPECT_EQ(follower.Follow(chunk, c.elapsedSeconds), OutputFollower::Verdict::Continue)
          << c.name;
    }
    EXPECT_EQ(context.lastTimeText, c.lastTime) << c.name;
    EXPECT_DOUBLE_EQ(context.percent, c.percent) << c.name;
    EXPECT_EQ(context.remainingText, c.remaining) << c.name;
    EXPECT_EQ(context.progressText, QStringLiteral("Converting 0:01:40 (remains %1 mins, %2%)")
                                        .arg(c.remaining, QString::number(c.percent)))
        << c.name;
  }
}

TEST(OutputFollowerTest, RecognisesFatalConverterMessages) {
  using V = OutputFollower::Verdict;
  const struct {
    const char* name;
    bool parseProgress;
    QStringList chunks;
    V verdict;
  } cases[] = {
      {"decode error early",
       true,
       {"time=50.00 x", "Error while decoding stream #0.0: bad"},
       V::DecodeError},
      {"decode error in the same chunk",
       true,
       {"time=97.99 Error while decoding stream #0.0"},
       V::DecodeError},
      {"decode error in the last 2 seconds",
       true,
       {"time=98.50 x", "Error while decoding stream"},
       V::Continue},
      // No time read yet: an empty time is not a number, so nothing shows the error is early.
      {"decode error before any time", true, {"Error while decoding stream #0.0"}, V::Continue},
      {"decode error with unreadable time",
       true,
       {"time=N/A x", "Error while decoding stream"},
       V::Continue},
      {"decode error without progress",
       false,
       {"time=5.00 Error while decoding stream"},
       V::Continue},
      {"too many channels",
       true,
       {"Resampling with input channels greater than 2 unsupported."},
       V::ResampleError},
      {"too many channels without progress",
       false,
       {"x Resampling with input channels greater than 2 unsupported"},
       V::ResampleError},
  };
  for (const auto& c : cases) {
    RunContext context;
    context.parseProgress = c.parseProgress;
    context.totalSeconds = 100;
    OutputFollower follower(context);
    V verdict = V::Continue;
    for (const QString& chunk : c.chunks) verdict = follower.Follow(chunk, 1);
    EXPECT_EQ(verdict, c.verdict) << c.name;
  }
}

TEST(OutputFollowerTest, OutputTextPutsStatusLinesOnTheirOwnLinesAndKeepsTheTail) {
  RunContext context;
  context.outputLimit = 8;
  QSignalSpy shown(&context, &RunContext::outputChanged);
  OutputFollower follower(context);
  follower.Follow(QStringLiteral("aaaaaaaaaaaa"), 0);
  // A chunk is always kept whole; the earlier text is cut to its tail.
  EXPECT_EQ(context.outputText, QStringLiteral("aaaaaaaaaaaa"));
  follower.Follow(QStringLiteral("bb"), 0);
  EXPECT_EQ(context.outputText, QStringLiteral("aaaaaaaabb"));

  RunContext lines;
  OutputFollower lineFollower(lines);
  lineFollower.Follow(QStringLiteral("head frame=1 x\rframe=2 y"), 0);
  EXPECT_EQ(lines.outputText, QStringLiteral("head \r\nframe=1 x\r\r\nframe=2 y"));
  ASSERT_EQ(shown.count(), 2);
  EXPECT_EQ(shown.last().at(0).toString(), QStringLiteral("aaaaaaaabb"));
}

}  // namespace
