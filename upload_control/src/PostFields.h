#pragma once

#include "upload_control/src/FieldPair.h"

namespace kqmavo2 {

// The field list of a Post request, cut from its one parameter text.
class PostFields {
 public:
  static constexpr int kMaxParamBytes = 127;
  static constexpr int kSlots = 20;
  static constexpr std::size_t kMaxPairs = 9;

  // Reads left to right: "%3d" stands for "=" and "%26" for "&" (only these spellings); blanks
  // are dropped; each "&" or "=" ends a token. Tokens alternate name, value; a trailing
  // unpaired token is dropped. Tokens are cut to their 63-byte slots, the text to 127 bytes,
  // and at most 9 pairs are kept.
  static FieldPairs Tokenize(const QByteArray& param);
};

}  // namespace kqmavo2
