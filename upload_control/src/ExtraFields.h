#pragma once

#include "upload_control/src/FieldPair.h"

namespace kqmavo2 {

// The extra form fields a caller passes as "name=value" pairs joined by "&".
class ExtraFields {
 public:
  // Most pairs a folder or version request sends; an upload sends one fewer.
  static constexpr std::size_t kMaxRequestPairs = 16;
  static constexpr std::size_t kMaxUploadPairs = 15;

  // Splits at "&" (empty pieces give nothing); the first "=" of a piece ends the name and later
  // ones belong to the value; a piece without "=" is a name with an empty value. Names and
  // values are cut to their 63-byte slots. Every pair is returned; callers check the count.
  static FieldPairs Parse(const QByteArray& text);
};

}  // namespace kqmavo2
