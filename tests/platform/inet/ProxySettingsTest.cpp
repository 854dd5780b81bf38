#include "platform/inet/ProxySettings.h"

#include <gtest/gtest.h>

namespace {

using inet::ProxySettings;

TEST(ProxySettingsTest, ReadsProxyAddresses) {
  struct Case {
    const char* url;
    const char* host;
    std::uint16_t port;
    const char* authorization;
  };
  const Case cases[] = {
      {"http://proxy.lan:3128/", "proxy.lan", 3128, ""},
      {"proxy.lan", "proxy.lan", inet::kDefaultProxyPort, ""},
      {"HTTP://user:p%3Ass@[::1]:8080", "::1", 8080, "Basic dXNlcjpwOnNz"},
      {"http://user@10.0.0.1:80", "10.0.0.1", 80, "Basic dXNlcjo="},
  };
  for (const Case& c : cases) {
    const ProxySettings settings = ProxySettings::FromStrings(c.url, "");
    EXPECT_TRUE(settings.Error().empty()) << c.url;
    EXPECT_EQ(settings.ProxyHost(), c.host);
    EXPECT_EQ(settings.ProxyPort(), c.port);
    EXPECT_EQ(settings.ProxyAuthorization(), c.authorization);
  }
  for (const char* bad : {"socks5://proxy:1080", "http://bad host:1", "http://proxy:0"}) {
    const ProxySettings settings = ProxySettings::FromStrings(bad, "");
    EXPECT_FALSE(settings.HasProxy()) << bad;
    EXPECT_FALSE(settings.Error().empty()) << bad;
  }
  EXPECT_FALSE(ProxySettings::FromStrings("", "").HasProxy());
}

TEST(ProxySettingsTest, NoProxyMatchesHostsDomainsAndPorts) {
  const ProxySettings settings = ProxySettings::FromStrings(
      "http://proxy:3128", "localhost, .corp.example ,lan.example:8080 10.1.2.3\t[::1]");
  struct Case {
    const char* host;
    std::uint16_t port;
    bool proxied;
  };
  const Case cases[] = {
      {"localhost", 80, false},          {"LOCALHOST.", 80, false},
      {"corp.example", 80, false},       {"a.b.corp.example", 80, false},
      {"evilcorp.example", 80, true},    {"lan.example", 8080, false},
      {"lan.example", 80, true},         {"10.1.2.3", 80, false},
      {"110.1.2.3", 80, true},           {"::1", 8080, false},
      {"lecture.example.org", 80, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings.UseProxyFor(c.host, c.port), c.proxied) << c.host << ":" << c.port;
  }
  EXPECT_FALSE(ProxySettings::FromStrings("http://proxy:3128", "*").UseProxyFor("any.org", 80));
  const ProxySettings everything = ProxySettings::FromStrings("http://proxy:3128", "");
  for (const char* loopback : {"localhost", "a.localhost", "127.0.0.1", "127.9.8.7", "::1"}) {
    EXPECT_FALSE(everything.UseProxyFor(loopback, 8080)) << loopback;
  }
  EXPECT_TRUE(everything.UseProxyFor("127.example.org", 80));
}

}  // namespace
