#include "upload_control/src/PostFields.h"

#include <vector>

namespace kqmavo2 {

FieldPairs PostFields::Tokenize(const QByteArray& param) {
  const QByteArray text = param.left(kMaxParamBytes);
  std::vector<QByteArray> tokens(1);
  int separators = 0;
  const auto endToken = [&] {
    ++separators;
    tokens.emplace_back();
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text.at(i);
    if (c == '%' && i + 2 < text.size() && text.at(i + 1) == '3' && text.at(i + 2) == 'd') {
      endToken();
      i += 2;
    } else if (c == '%' && i + 2 < text.size() && text.at(i + 1) == '2' && text.at(i + 2) == '6') {
      endToken();
      i += 2;
    } else if (c == '&' || c == '=') {
      endToken();
    } else if (c == ' ') {
      continue;
    } else if (tokens.back().size() < kFieldSlotBytes) {
      tokens.back().append(c);
    }
  }
  const std::size_t pairCount = std::min(
      {static_cast<std::size_t>((separators + 1) / 2), kMaxPairs, std::size_t{kSlots / 2}});
  FieldPairs pairs;
  for (std::size_t k = 0; k < pairCount; ++k) pairs.push_back({tokens[2 * k], tokens[2 * k + 1]});
  return pairs;
}

}  // namespace kqmavo2
