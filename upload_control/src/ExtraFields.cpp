#include "upload_control/src/ExtraFields.h"

#include <QList>

namespace kqmavo2 {

FieldPairs ExtraFields::Parse(const QByteArray& text) {
  FieldPairs pairs;
  for (const QByteArray& piece : text.split('&')) {
    if (piece.isEmpty()) continue;
    const qsizetype equals = piece.indexOf('=');
    FieldPair pair;
    pair.name = (equals < 0 ? piece : piece.left(equals)).left(kFieldSlotBytes);
    pair.value = (equals < 0 ? QByteArray() : piece.mid(equals + 1)).left(kFieldSlotBytes);
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

}  // namespace kqmavo2
