#include "tools/converter/ConsoleRewriter.h"

#include <gtest/gtest.h>

namespace {

TEST(ConsoleRewriterTest, RewritesStreamNumbersAndTimes) {
  const struct {
    const char* line;
    const char* expected;
  } cases[] = {
      {"  Stream #0:1[0x2](eng): Audio: aac", "  Stream #0.1[0x2](eng): Audio: aac"},
      {"  Stream #0:0 -> #0:0 (h264 (native) -> bmp (native))",
       "  Stream #0.0 -> #0.0 (h264 (native) -> bmp (native))"},
      {"Error while decoding stream #0:12: Invalid data",
       "Error while decoding stream #0.12: Invalid data"},
      {"frame=   60 fps=0.0 q=14.0 size=  53kB time=00:01:02.50 bitrate= 1k",
       "frame=   60 fps=0.0 q=14.0 size=  53kB time=62.50 bitrate= 1k"},
      {"time=01:00:00.00 bitrate=N/A", "time=3600.00 bitrate=N/A"},
      {"size=N/A time=-00:00:00.03 bitrate=N/A", "size=N/A time=-0.03 bitrate=N/A"},
      {"time=N/A bitrate=N/A", "time=N/A bitrate=N/A"},
      {"time=12:34 x", "time=12:34 x"},
      {"Duration: 00:00:02.00, start: 0.000000", "Duration: 00:00:02.00, start: 0.000000"},
      {"# 0:1 #:1 #0: #a:1 0x1:2", "# 0:1 #:1 #0: #a:1 0x1:2"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConsoleRewriter::RewriteLine(c.line), c.expected) << c.line;
  }
}

TEST(ConsoleRewriterTest, PassesTextThroughAsEachLineEnds) {
  ConsoleRewriter rewriter;
  EXPECT_EQ(rewriter.Feed("Stream #0:0: Video\nframe= 1 time=00:0"), "Stream #0.0: Video\n");
  EXPECT_TRUE(rewriter.HasPending());
  EXPECT_EQ(rewriter.Feed("0:01.00 bitrate\rframe= 2 time=00:00:02.00 b\r"),
            "frame= 1 time=1.00 bitrate\rframe= 2 time=2.00 b\r");
  EXPECT_EQ(rewriter.Feed("tail without end"), "");
  EXPECT_EQ(rewriter.Flush(), "tail without end");
  EXPECT_FALSE(rewriter.HasPending());

  // A line that never ends is passed on once it grows large, not held forever.
  const std::string endless(70000, 'x');
  EXPECT_EQ(rewriter.Feed(endless), endless);
}

}  // namespace
