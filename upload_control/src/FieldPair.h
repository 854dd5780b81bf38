#pragma once

#include <QByteArray>

#include <vector>

namespace kqmavo2 {

// One form field of a request, in the code page the server expects.
struct FieldPair {
  QByteArray name;
  QByteArray value;
  friend bool operator==(const FieldPair&, const FieldPair&) = default;
};

using FieldPairs = std::vector<FieldPair>;

// Each name and each value of the parsed field lists sits in a 64-byte slot with its terminator.
inline constexpr int kFieldSlotBytes = 63;

}  // namespace kqmavo2
