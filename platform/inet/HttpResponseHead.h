// The head of an HTTP answer (status line and header fields), parsed from the bytes a server sent.
// Parsing is pure and bounded, so it can be fed anything a server might send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace inet {

// A head larger than this is refused: no real server needs more, and a peer that never ends its
// head must not grow our buffer without bound.
inline constexpr std::size_t kMaxResponseHeadBytes = 64 * 1024;
inline constexpr std::size_t kMaxResponseHeaderCount = 256;

class HttpResponseHead {
 public:
  enum class ParseResult { kComplete, kIncomplete, kInvalid };

  // Parses the head at the start of bytes. kComplete sets consumed to the length of the head
  // including its empty line; kIncomplete means more bytes are needed (and fewer than
  // kMaxResponseHeadBytes arrived); kInvalid sets error. Lines may end with CR LF or LF alone.
  static ParseResult Parse(std::string_view bytes, HttpResponseHead& head, std::size_t& consumed,
                           std::string& error);

  int majorVersion = 1;
  int minorVersion = 0;
  int status = 0;
  std::string reason;
  // Header fields in arrival order, names as sent, values without surrounding blanks.
  std::vector<std::pair<std::string, std::string>> fields;
  // Content-Length when present and the body is not chunked.
  std::optional<std::uint64_t> contentLength;
  // Transfer-Encoding ends with "chunked".
  bool chunked = false;

  // The first value of the named field (case-insensitive), or empty.
  std::optional<std::string> Field(std::string_view name) const;
  // Whether an answer with this status to a request with this verb carries no body at all.
  bool HasNoBody(std::string_view verb) const;
};

}  // namespace inet
