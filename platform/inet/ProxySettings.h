// Which HTTP proxy a request goes through: the "preconfigured" settings of the user's session,
// read from http_proxy (or HTTP_PROXY) and no_proxy (or NO_PROXY), as command-line tools read them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace inet {

// Port of a proxy address that names none (the usual default of command-line HTTP clients).
inline constexpr std::uint16_t kDefaultProxyPort = 1080;

class ProxySettings {
 public:
  // No proxy at all.
  ProxySettings() = default;
  // Reads the environment. An unusable http_proxy value means no proxy; it is reported by Error().
  static ProxySettings FromEnvironment();
  // Builds settings from the two texts. proxyUrl: "[http://][user[:password]@]host[:port][/]";
  // empty means no proxy. noProxy: comma- or blank-separated entries, each "*", a host name, a
  // domain (".example.org" or "example.org" also matches its sub-domains), or an IP address,
  // optionally with ":port".
  static ProxySettings FromStrings(std::string_view proxyUrl, std::string_view noProxy);

  bool HasProxy() const { return !proxyHost_.empty(); }
  const std::string& ProxyHost() const { return proxyHost_; }
  std::uint16_t ProxyPort() const { return proxyPort_; }
  // "Basic ..." credentials for Proxy-Authorization, empty when the address carries no user.
  const std::string& ProxyAuthorization() const { return authorization_; }
  // Why the proxy address was not usable; empty when it was (or none was given).
  const std::string& Error() const { return error_; }

  // Whether a request to host:port goes through the proxy (host without brackets).
  bool UseProxyFor(std::string_view host, std::uint16_t port) const;
  // Whether host:port is reached directly whatever the proxy setting: no_proxy names it, or it is
  // this machine's loopback interface (localhost, 127.x.x.x, ::1).
  bool IsExcluded(std::string_view host, std::uint16_t port) const;

 private:
  struct Exclusion {
    std::string host;        // lower case, no leading dot, no brackets; "*" matches every host
    std::uint16_t port = 0;  // 0 = every port
    bool address = false;    // an IP address matches only itself, never as a domain suffix
  };

  std::string proxyHost_;
  std::uint16_t proxyPort_ = 0;
  std::string authorization_;
  std::vector<Exclusion> exclusions_;
  std::string error_;
};

}  // namespace inet
