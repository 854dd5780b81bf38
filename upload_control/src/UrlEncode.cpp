#include "upload_control/src/UrlEncode.h"

#include <cstring>

namespace kqmavo2 {

QByteArray UrlEncode(const QByteArray& text) {
  static constexpr char kReserved[] = "\"<>%\\^[]`+$,@:;/!#?=&";
  static constexpr char kHex[] = "0123456789ABCDEF";
  QByteArray encoded;
  encoded.reserve(text.size() * 3);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 33 || byte > 122 || std::memchr(kReserved, c, sizeof(kReserved) - 1) != nullptr) {
      encoded.append('%');
      encoded.append(kHex[byte >> 4]);
      encoded.append(kHex[byte & 0x0F]);
    } else {
      encoded.append(c);
    }
  }
  return encoded;
}

}  // namespace kqmavo2
