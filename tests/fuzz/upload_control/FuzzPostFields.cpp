// The Post tokeniser on arbitrary text: at most nine pairs, each token within its slot, no
// blank or separator left inside a token. ("%3d" may form inside a token once blanks between
// its characters are dropped; only the spelling in the text separates.)

#include "upload_control/src/PostFields.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const kqmavo2::FieldPairs pairs = kqmavo2::PostFields::Tokenize(text);
  if (pairs.size() > kqmavo2::PostFields::kMaxPairs) std::abort();
  for (const kqmavo2::FieldPair& pair : pairs) {
    for (const QByteArray* token : {&pair.name, &pair.value}) {
      if (token->size() > kqmavo2::kFieldSlotBytes) std::abort();
      if (token->contains(' ') || token->contains('&') || token->contains('=')) std::abort();
    }
  }
  // A text without separators gives no pair.
  const QByteArray head = text.left(kqmavo2::PostFields::kMaxParamBytes);
  if (!head.contains('&') && !head.contains('=') && !head.contains("%3d") &&
      !head.contains("%26") && !pairs.empty()) {
    std::abort();
  }
  return 0;
}
