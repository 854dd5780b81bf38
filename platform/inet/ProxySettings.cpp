#include "platform/inet/ProxySettings.h"

#include <cstdlib>

#include "platform/inet/HostPort.h"

namespace inet {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ToLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = Lower(c);
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// User names and passwords in proxy addresses are percent-encoded so that ":" and "@" fit.
std::string PercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    text += kDigits[(v >> 18) & 63];
    text += kDigits[(v >> 12) & 63];
    text += kDigits[(v >> 6) & 63];
    text += kDigits[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    text += kDigits[(v >> 18) & 63];
    text += kDigits[(v >> 12) & 63];
    text += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

std::string Environment(const char* lower, const char* upper) {
  if (const char* value = std::getenv(lower); value != nullptr && *value != '\0') return value;
  if (const char* value = std::getenv(upper); value != nullptr && *value != '\0') return value;
  return {};
}

}  // namespace

ProxySettings ProxySettings::FromEnvironment() {
  return FromStrings(Environment("http_proxy", "HTTP_PROXY"), Environment("no_proxy", "NO_PROXY"));
}

ProxySettings ProxySettings::FromStrings(std::string_view proxyUrl, std::string_view noProxy) {
  ProxySettings settings;

  std::string_view rest = Trim(proxyUrl);
  if (!rest.empty()) {
    const std::string original(rest);
    if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
      if (ToLower(rest.substr(0, scheme)) != "http") {
        settings.error_ = "the proxy address \"" + original + "\" is not an http:// address";
        rest = {};
      } else {
        rest.remove_prefix(scheme + 3);
      }
    }
    if (!rest.empty()) {
      rest = rest.substr(0, rest.find('/'));
      std::string user;
      if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        user = PercentDecode(rest.substr(0, at));
        rest.remove_prefix(at + 1);
      }
      HostPort address;
      std::string error;
      if (!HostPort::Parse(rest, address, error)) {
        settings.error_ = "the proxy address \"" + original + "\" is not valid: " + error;
      } else {
        settings.proxyHost_ = address.host;
        settings.proxyPort_ = address.port != 0 ? address.port : kDefaultProxyPort;
        if (!user.empty()) {
          if (user.find(':') == std::string::npos) user += ':';
          settings.authorization_ = "Basic " + Base64(user);
        }
      }
    }
  }

  std::size_t pos = 0;
  while (pos < noProxy.size()) {
    std::size_t end = noProxy.find_first_of(", \t", pos);
    if (end == std::string_view::npos) end = noProxy.size();
    std::string_view entry = noProxy.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    if (entry == "*") {
      settings.exclusions_.push_back({"*", 0, false});
      continue;
    }
    if (entry.substr(0, 2) == "*.") entry.remove_prefix(1);
    while (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    HostPort address;
    std::string ignored;
    if (HostPort::Parse(entry, address, ignored)) {
      std::string host = ToLower(address.host);
      while (!host.empty() && host.back() == '.') host.pop_back();
      const bool numeric =
          address.ipv6 || host.find_first_not_of("0123456789.") == std::string::npos;
      settings.exclusions_.push_back({host, address.port, numeric});
    }
  }
  return settings;
}

bool ProxySettings::UseProxyFor(std::string_view host, std::uint16_t port) const {
  return HasProxy() && !IsExcluded(host, port);
}

bool ProxySettings::IsExcluded(std::string_view host, std::uint16_t port) const {
  std::string target = ToLower(host);
  while (!target.empty() && target.back() == '.') target.pop_back();
  // A proxy cannot reach this machine's loopback interface, so such requests always go direct.
  if (target == "localhost" || target.ends_with(".localhost") || target == "::1" ||
      (target.starts_with("127.") &&
       target.find_first_not_of("0123456789.") == std::string::npos)) {
    return true;
  }
  for (const Exclusion& exclusion : exclusions_) {
    if (exclusion.port != 0 && exclusion.port != port) continue;
    if (exclusion.host == "*" || target == exclusion.host) return true;
    if (!exclusion.address && target.size() > exclusion.host.size() &&
        target.compare(target.size() - exclusion.host.size(), exclusion.host.size(),
                       exclusion.host) == 0 &&
        target[target.size() - exclusion.host.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

}  // namespace inet
