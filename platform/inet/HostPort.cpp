#include "platform/inet/HostPort.h"

#include <arpa/inet.h>

namespace inet {

namespace {

// Longest host name DNS can carry.
constexpr std::size_t kMaxHostLength = 253;

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsIpv6Literal(std::string_view text) {
  if (text.empty() || text.size() > 45) return false;
  const std::string copy(text);
  unsigned char address[16];
  return inet_pton(AF_INET6, copy.c_str(), address) == 1;
}

bool ParsePort(std::string_view text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

bool HostPort::IsValidHost(std::string_view host) {
  if (IsIpv6Literal(host)) return true;
  if (host.empty() || host.size() > kMaxHostLength) return false;
  for (char c : host) {
    if (!IsNameChar(c)) return false;
  }
  return host.front() != '.' && host.front() != '-';
}

bool HostPort::Parse(std::string_view text, HostPort& out, std::string& error) {
  out = HostPort();
  if (text.empty()) {
    error = "no server name was given";
    return false;
  }
  std::string_view host = text;
  std::string_view port;
  bool bracketed = false;
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) {
      error = "the server address \"" + std::string(text) + "\" lacks its closing bracket";
      return false;
    }
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        error = "the server address \"" + std::string(text) + "\" is not valid";
        return false;
      }
      port = rest.substr(1);
      if (port.empty()) {
        error = "the server address \"" + std::string(text) + "\" has an empty port";
        return false;
      }
    }
    bracketed = true;
  } else if (const std::size_t colon = text.find(':');
             colon != std::string_view::npos &&
             text.find(':', colon + 1) == std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) {
      error = "the server address \"" + std::string(text) + "\" has an empty port";
      return false;
    }
  }
  const bool ipv6 = IsIpv6Literal(host);
  if (bracketed && !ipv6) {
    error = "\"" + std::string(host) + "\" in brackets is not an IPv6 address";
    return false;
  }
  if (!IsValidHost(host)) {
    error = "\"" + std::string(host) + "\" is not a valid server name";
    return false;
  }
  if (!port.empty() && !ParsePort(port, out.port)) {
    error = "\"" + std::string(port) + "\" is not a valid port number";
    return false;
  }
  out.host = std::string(host);
  out.ipv6 = ipv6;
  return true;
}

std::string HostPort::Authority(std::uint16_t port, std::uint16_t defaultPort) const {
  std::string text = ipv6 ? "[" + host + "]" : host;
  if (port != defaultPort) text += ":" + std::to_string(port);
  return text;
}

}  // namespace inet
