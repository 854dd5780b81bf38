// Decodes a body sent with "Transfer-Encoding: chunked". Pure and incremental: feed it the bytes
// as they arrive, in pieces of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace inet {

class ChunkedDecoder {
 public:
  enum class State { kSize, kSizeLine, kData, kDataEnd, kTrailer, kDone, kInvalid };

  // Decodes as much of input as it can, appending body bytes to out. Returns how many bytes of
  // input were consumed; bytes after the end of the body are left unconsumed. Check Failed()
  // afterwards.
  std::size_t Feed(std::string_view input, std::string& out);

  bool Done() const { return state_ == State::kDone; }
  bool Failed() const { return state_ == State::kInvalid; }
  const std::string& Error() const { return error_; }

 private:
  std::size_t Invalid(std::string message, std::size_t consumed);

  State state_ = State::kSize;
  std::uint64_t chunkRemaining_ = 0;
  std::size_t sizeDigits_ = 0;
  std::size_t lineBytes_ = 0;  // bytes of the current extension or trailer line, bounded
  std::size_t trailerBytes_ = 0;
  bool sawCr_ = false;
  std::string error_;
};

}  // namespace inet
