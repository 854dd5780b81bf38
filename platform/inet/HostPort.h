// A server address as "host[:port]": a name, an IPv4 address, or an IPv6 address in brackets
// (bare when no port follows). Checked strictly, because the host is written into request heads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace inet {

class HostPort {
 public:
  // Parses text. The port, when present, is 1 to 65535; port stays 0 when none is written.
  static bool Parse(std::string_view text, HostPort& out, std::string& error);
  // Whether text is a valid host on its own (no port): a name or an IP address.
  static bool IsValidHost(std::string_view host);

  // The host as it goes into a Host field or URL, with port when it differs from defaultPort:
  // "example.org", "example.org:8080", "[::1]:8080".
  std::string Authority(std::uint16_t port, std::uint16_t defaultPort) const;

  std::string host;  // without brackets
  std::uint16_t port = 0;
  bool ipv6 = false;
};

}  // namespace inet
