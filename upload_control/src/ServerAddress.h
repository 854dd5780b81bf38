#pragma once

#include <QString>

#include <cstdint>

namespace kqmavo2 {

// Where a request goes: the host and path split from the address the caller gives.
struct ServerAddress {
  static constexpr std::uint16_t kDefaultPort = 80;
  // The host and path buffers hold 255 units with the terminator.
  static constexpr int kMaxHostUnits = 254;
  static constexpr int kMaxPathUnits = 254;
  static constexpr int kMaxUrlUnits = 1023;

  QString host;
  std::uint16_t port = kDefaultPort;
  QString path;
  // False when the host part carries a port that is not a number from 1 to 65535; such an
  // address cannot be connected to.
  bool portValid = true;

  // The first 7 characters are taken to be "http://" and skipped, whatever they are. The text
  // up to the next "/" is the host, the rest (with that "/") the path. A host written
  // "name:port" (or "[v6address]:port") connects to that port, every other host to port 80.
  // An "https://" address therefore yields an empty host and fails to connect.
  static ServerAddress Split(const QString& url, bool dropTrailingSlash = false);
};

}  // namespace kqmavo2
