#include "platform/com/Guid.h"

#include <gtest/gtest.h>

namespace {

using cf::com::Guid;

TEST(Guid, ParsesRegistryTextAndWritesItBack) {
  constexpr Guid parsed = Guid::Parse("{24919A8D-2502-49CA-B37B-C348EE6E708C}");
  static_assert(parsed.data1 == 0x24919A8D && parsed.data2 == 0x2502 && parsed.data3 == 0x49CA);
  EXPECT_EQ(parsed.data4[0], 0xB3);
  EXPECT_EQ(parsed.data4[7], 0x8C);
  EXPECT_EQ(parsed.ToString(), QStringLiteral("{24919A8D-2502-49CA-B37B-C348EE6E708C}"));
  bool ok = false;
  EXPECT_EQ(Guid::FromString(QStringLiteral(" 24919a8d-2502-49ca-b37b-c348ee6e708c "), &ok),
            parsed);
  EXPECT_TRUE(ok);
}

TEST(Guid, MalformedTextGivesTheNullIdentifier) {
  const char* cases[] = {"",
                         "{}",
                         "{24919A8D-2502-49CA-B37B-C348EE6E708}",
                         "{24919A8D-2502-49CA-B37B-C348EE6E708CC}",
                         "{24919A8D+2502-49CA-B37B-C348EE6E708C}",
                         "{24919A8D-2502-49CA-B37B-C348EE6E708G}",
                         "24919A8D-2502-49CA-B37B-C348EE6E708C}"};
  for (const char* text : cases) {
    bool ok = true;
    EXPECT_TRUE(Guid::Parse(text, &ok).IsNull()) << text;
    EXPECT_FALSE(ok) << text;
  }
}

}  // namespace
