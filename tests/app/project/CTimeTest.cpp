#include "app/project/CTime.h"

#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <limits>

namespace cf {
namespace {

TEST(CTimeTest, GetSecondReadsMinutesOrHoursLeniently) {
  const struct {
    const char* text;
    int32_t ms;
  } cases[] = {
      {"1:02:03.5", 3723500}, {"02:03.5", 123500},
      {"0:00:00", 0},         {"00:00.000", 0},
      {"59:59.999", 3599999}, {" 1: 2", 62000},    // leading blanks skipped
      {"1x:30abc", 90000},                         // the numeric prefix only
      {"abc:7", 7000},                             // no digits counts as 0
      {"00:02.0625", 2062},                        // half a millisecond goes to the even neighbour
      {"00:02.1875", 2188},   {"1:2:3:4", 62000},  // more than three parts: minutes and seconds
      {"-1:00", -60000},      {"596:31:23.647", 2147483647},
  };
  for (const auto& c : cases) {
    bool ok = false;
    EXPECT_EQ(CTime::GetSecond(QString::fromUtf8(c.text), &ok), c.ms) << c.text;
    EXPECT_TRUE(ok) << c.text;
  }
}

TEST(CTimeTest, GetSecondFailsWithoutColonOrBeyondThirtyTwoBits) {
  for (const char* text : {"", "0", "123.5", "596:31:23.648", "1e300:00", "-596:-31:-23.649"}) {
    bool ok = true;
    EXPECT_EQ(CTime::GetSecond(QString::fromUtf8(text), &ok), 0) << text;
    EXPECT_FALSE(ok) << text;
  }
}

TEST(CTimeTest, GetStringWritesMinutesSecondsAndHours) {
  const struct {
    int32_t ms;
    const char* precision;
    const char* text;
  } cases[] = {
      {123500, "ms", "02:03.500"},
      {3723000, "sec", "1:02:03"},
      {-1, "ms", "-"},
      {-1, "sec", "-"},
      {0, "ms", "00:00"},
      {3723600, "sec", "1:02:04"},  // rounded to whole seconds
      {59600, "sec", "01:00"},      // rounding carries into the minute
      {3599999, "sec", "1:00:00"},
      {35999999, "ms", "9:59:59.999"},  // long recordings keep their milliseconds
      {7, "ms", "00:00.007"},
      {360000000, "ms", "100:00:00"},  // hours are not padded or wrapped
      {-61500, "ms", "-01:01.500"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CTime::GetString(c.ms, QString::fromUtf8(c.precision)), QString::fromUtf8(c.text))
        << c.ms << " " << c.precision;
  }
}

TEST(CTimeTest, GetStringReadsBackToTheSameMilliseconds) {
  for (const int32_t ms :
       {0, 1, 999, 1000, 61001, 3599999, 3600000, 86399999, std::numeric_limits<int32_t>::max()}) {
    bool ok = false;
    EXPECT_EQ(CTime::GetSecond(CTime::GetString(ms, QStringLiteral("ms")), &ok), ms);
    EXPECT_TRUE(ok);
  }
}

}  // namespace
}  // namespace cf
