#include "platform/inet/HostPort.h"

#include <gtest/gtest.h>

namespace {

using inet::HostPort;

TEST(HostPortTest, SplitsHostAndPortAndWritesTheAuthorityBack) {
  struct Case {
    const char* text;
    const char* host;
    std::uint16_t port;
    const char* authority;  // for the default port 80
  };
  const Case cases[] = {
      {"lecture.example.org", "lecture.example.org", 0, "lecture.example.org"},
      {"127.0.0.1:8080", "127.0.0.1", 8080, "127.0.0.1:8080"},
      {"host:80", "host", 80, "host"},
      {"[::1]:65535", "::1", 65535, "[::1]:65535"},
      {"fe80::2", "fe80::2", 0, "[fe80::2]"},
  };
  for (const Case& c : cases) {
    HostPort address;
    std::string error;
    ASSERT_TRUE(HostPort::Parse(c.text, address, error)) << c.text << ": " << error;
    EXPECT_EQ(address.host, c.host);
    EXPECT_EQ(address.port, c.port);
    EXPECT_EQ(address.Authority(address.port != 0 ? address.port : 80, 80), c.authority);
  }
  const std::string tooLong(254, 'a');
  for (const std::string& bad :
       {std::string(), std::string(":80"), std::string("host:65536"), std::string("host:8o"),
        std::string("-host"), std::string("[::1]x"), std::string("[::1]:"),
        std::string("h\xC3\xA9.org"), tooLong}) {
    HostPort address;
    std::string error;
    EXPECT_FALSE(HostPort::Parse(bad, address, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
