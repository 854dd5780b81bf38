#include "upload_control/src/ServerAddress.h"

namespace kqmavo2 {
namespace {

constexpr int kSchemeLength = 7;  // "http://"

// Parses "65535"-style text; false for anything else.
bool ParsePort(const QString& text, std::uint16_t* port) {
  if (text.isEmpty() || text.size() > 5) return false;
  int value = 0;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    value = value * 10 + (c.unicode() - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

ServerAddress ServerAddress::Split(const QString& url, bool dropTrailingSlash) {
  ServerAddress address;
  const QString copy = url.left(kMaxUrlUnits);
  const QString rest = copy.mid(std::min<qsizetype>(kSchemeLength, copy.size()));
  const qsizetype slash = rest.indexOf(QLatin1Char('/'));
  QString host = slash < 0 ? rest : rest.left(slash);
  address.path = (slash < 0 ? QString() : rest.mid(slash)).left(kMaxPathUnits);
  host = host.left(kMaxHostUnits);
  if (dropTrailingSlash && address.path.endsWith(QLatin1Char('/'))) address.path.chop(1);

  // "name:port", "[v6]:port"; a bare IPv6 address in brackets keeps port 80.
  qsizetype colon = -1;
  if (host.startsWith(QLatin1Char('['))) {
    const qsizetype close = host.indexOf(QLatin1Char(']'));
    if (close > 0 && close + 1 < host.size() && host.at(close + 1) == QLatin1Char(':'))
      colon = close + 1;
  } else if (host.count(QLatin1Char(':')) == 1) {
    colon = host.indexOf(QLatin1Char(':'));
  }
  if (colon >= 0) {
    std::uint16_t port = kDefaultPort;
    address.portValid = ParsePort(host.mid(colon + 1), &port);
    if (address.portValid) {
      address.port = port;
      host = host.left(colon);
    }
  }
  address.host = host;
  return address;
}

}  // namespace kqmavo2
