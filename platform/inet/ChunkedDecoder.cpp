#include "platform/inet/ChunkedDecoder.h"

#include <algorithm>

namespace inet {

namespace {

// Size lines and trailer fields are short in practice; a peer that never ends one is refused.
constexpr std::size_t kMaxLineBytes = 4096;
constexpr std::size_t kMaxTrailerBytes = 64 * 1024;
// Sixteen hexadecimal digits fill 64 bits.
constexpr std::size_t kMaxSizeDigits = 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::size_t ChunkedDecoder::Invalid(std::string message, std::size_t consumed) {
  state_ = State::kInvalid;
  error_ = std::move(message);
  return consumed;
}

std::size_t ChunkedDecoder::Feed(std::string_view input, std::string& out) {
  std::size_t pos = 0;
  while (pos < input.size()) {
    switch (state_) {
      case State::kDone:
      case State::kInvalid:
        return pos;

      case State::kSize: {
        const char c = input[pos];
        const int digit = HexValue(c);
        if (digit >= 0) {
          if (sawCr_) return Invalid("a chunk size line has a stray carriage return", pos);
          if (++sizeDigits_ > kMaxSizeDigits) return Invalid("a chunk size is too large", pos);
          chunkRemaining_ = chunkRemaining_ * 16 + static_cast<std::uint64_t>(digit);
          ++pos;
          break;
        }
        if (sizeDigits_ == 0) return Invalid("a chunk does not begin with its size", pos);
        if (c == '\r' && !sawCr_) {
          sawCr_ = true;
          ++pos;
          break;
        }
        if (c == '\n') {
          ++pos;
          sawCr_ = false;
          state_ = chunkRemaining_ == 0 ? State::kTrailer : State::kData;
          lineBytes_ = 0;
          break;
        }
        if (!sawCr_ && (c == ';' || c == ' ' || c == '\t')) {
          // Chunk extensions carry nothing we use.
          state_ = State::kSizeLine;
          lineBytes_ = 0;
          break;
        }
        return Invalid("a chunk size line is malformed", pos);
      }

      case State::kSizeLine: {
        const char c = input[pos++];
        if (++lineBytes_ > kMaxLineBytes) return Invalid("a chunk size line is too long", pos);
        if (c == '\n') {
          state_ = chunkRemaining_ == 0 ? State::kTrailer : State::kData;
          lineBytes_ = 0;
        }
        break;
      }

      case State::kData: {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunkRemaining_, input.size() - pos));
        out.append(input.data() + pos, take);
        pos += take;
        chunkRemaining_ -= take;
        if (chunkRemaining_ == 0) {
          state_ = State::kDataEnd;
          sawCr_ = false;
        }
        break;
      }

      case State::kDataEnd: {
        const char c = input[pos];
        if (c == '\r' && !sawCr_) {
          sawCr_ = true;
          ++pos;
        } else if (c == '\n') {
          ++pos;
          sawCr_ = false;
          state_ = State::kSize;
          sizeDigits_ = 0;
        } else {
          return Invalid("a chunk is longer than its size says", pos);
        }
        break;
      }

      case State::kTrailer: {
        const char c = input[pos++];
        if (++trailerBytes_ > kMaxTrailerBytes)
          return Invalid("the chunked trailer is too long", pos);
        if (c == '\n') {
          if (lineBytes_ == 0) {
            state_ = State::kDone;
            return pos;
          }
          lineBytes_ = 0;
        } else if (c != '\r' || lineBytes_ != 0) {
          // A lone CR before LF leaves the line empty; anything else starts a trailer field.
          ++lineBytes_;
        }
        break;
      }
    }
  }
  return pos;
}

}  // namespace inet
