// ParseExtraFields on arbitrary text: every pair fits its slots, and nothing but the cut-off
// tails and the separators is lost.

#include "upload_control/src/ExtraFields.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const kqmavo2::FieldPairs pairs = kqmavo2::ExtraFields::Parse(text);
  std::size_t pieces = 0;
  for (const QByteArray& piece : text.split('&')) pieces += piece.isEmpty() ? 0 : 1;
  if (pairs.size() != pieces) std::abort();
  for (const kqmavo2::FieldPair& pair : pairs) {
    if (pair.name.size() > kqmavo2::kFieldSlotBytes || pair.value.size() > kqmavo2::kFieldSlotBytes)
      std::abort();
    if (pair.name.contains('&') || pair.name.contains('=') || pair.value.contains('&'))
      std::abort();
    if (!text.contains(pair.name)) std::abort();
  }
  return 0;
}
