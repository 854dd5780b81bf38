#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <string_view>

namespace cf::com {

// A 128-bit class or interface identifier. Built at compile time from its registry text
// ("{24919A8D-2502-49CA-B37B-C348EE6E708C}") so identifiers are written once, readably.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, either letter case).
  // A malformed text gives the null identifier and `ok` false.
  static constexpr Guid Parse(std::string_view text, bool* ok = nullptr);
  static Guid FromString(const QString& text, bool* ok = nullptr);

  // The registry form: braces, upper-case hexadecimal.
  QString ToString() const;
  bool IsNull() const { return *this == Guid{}; }

  friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

using IID = Guid;
using CLSID = Guid;

inline constexpr Guid IID_NULL{};

namespace detail {
constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace detail

constexpr Guid Guid::Parse(std::string_view text, bool* ok) {
  if (ok != nullptr) *ok = false;
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
      text[23] != '-') {
    return {};
  }
  std::array<std::uint8_t, 16> bytes{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    if (text[pos] == '-') ++pos;
    const int high = detail::HexValue(text[pos]);
    const int low = detail::HexValue(text[pos + 1]);
    if (high < 0 || low < 0) return {};
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    pos += 2;
  }
  Guid guid;
  guid.data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | bytes[3];
  guid.data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (std::size_t i = 0; i < 8; ++i) guid.data4[i] = bytes[8 + i];
  if (ok != nullptr) *ok = true;
  return guid;
}

}  // namespace cf::com
