// Feeds arbitrary server bytes to the answer head parser and, behind a complete head, to the
// chunked body decoder, in one piece and in small pieces: the two readings must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/inet/ChunkedDecoder.h"
#include "platform/inet/HttpResponseHead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  inet::HttpResponseHead head;
  std::size_t consumed = 0;
  std::string error;
  const auto result = inet::HttpResponseHead::Parse(bytes, head, consumed, error);
  if (result != inet::HttpResponseHead::ParseResult::kComplete) {
    if (result == inet::HttpResponseHead::ParseResult::kInvalid && error.empty()) std::abort();
    return 0;
  }
  if (consumed == 0 || consumed > size || consumed > inet::kMaxResponseHeadBytes) std::abort();
  if (head.status < 100 || head.status > 999) std::abort();
  if (head.fields.size() > inet::kMaxResponseHeaderCount) std::abort();

  const std::string_view rest = bytes.substr(consumed);
  inet::ChunkedDecoder whole;
  std::string wholeBody;
  const std::size_t wholeUsed = whole.Feed(rest, wholeBody);

  inet::ChunkedDecoder pieces;
  std::string piecesBody;
  std::size_t piecesUsed = 0;
  const std::size_t step = 1 + size % 5;
  while (piecesUsed < rest.size() && !pieces.Done() && !pieces.Failed()) {
    const std::size_t used = pieces.Feed(rest.substr(piecesUsed, step), piecesBody);
    // A decoder that neither moves on nor fails would hang a reader.
    if (used == 0 && !pieces.Failed() && !pieces.Done()) std::abort();
    piecesUsed += used;
  }
  if (whole.Failed() != pieces.Failed() || whole.Done() != pieces.Done()) std::abort();
  if (!whole.Failed() && (wholeBody != piecesBody || wholeUsed != piecesUsed)) std::abort();
  if (wholeBody.size() > rest.size()) std::abort();
  return 0;
}
