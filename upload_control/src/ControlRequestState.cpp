#include "upload_control/src/ControlRequestState.h"

#include "platform/codepage/CodePage.h"
#include "upload_control/src/PostFields.h"

namespace kqmavo2 {

void ControlRequestState::SetUrl(const QString& url, bool dropTrailingSlash) {
  address = ServerAddress::Split(url, dropTrailingSlash);
}

void ControlRequestState::SetPostParam(const QString& text) {
  postFields = PostFields::Tokenize(ToAnsiBounded(text, PostFields::kMaxParamBytes + 1));
}

QByteArray ControlRequestState::ToAnsiBounded(const QString& text, int bufferBytes) {
  const int limit = bufferBytes - 1;
  QByteArray whole = cf::codepage::ToAnsi(text);
  if (whole.size() <= limit) return whole;
  // Longest prefix of whole characters whose conversion fits.
  qsizetype low = 0;
  qsizetype high = std::min<qsizetype>(text.size(), limit);
  QByteArray best;
  while (low < high) {
    qsizetype middle = (low + high + 1) / 2;
    qsizetype cut = middle;
    if (cut > 0 && cut < text.size() && text.at(cut - 1).isHighSurrogate()) --cut;
    const QByteArray converted = cf::codepage::ToAnsi(text.left(cut));
    if (converted.size() <= limit) {
      low = middle;
      if (converted.size() >= best.size()) best = converted;
    } else {
      high = middle - 1;
    }
  }
  return best;
}

QByteArray ControlRequestState::DecimalBounded(int value) {
  return QByteArray::number(value).left(kIdBytes - 1);
}

}  // namespace kqmavo2
