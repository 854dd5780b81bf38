#include "tools/kqserver/MultipartParser.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace kqserver {

namespace {

constexpr size_t kMaxBoundaryLength = 70;
constexpr size_t kMaxPadding = 64;
// How much of a piece is gathered at a time outside file data.
constexpr size_t kBufferedSlice = 4096;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Splits a header value at ";" outside double quotes.
std::vector<std::string_view> SplitParameters(std::string_view value) {
  std::vector<std::string_view> pieces;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '"') {
      quoted = !quoted;
    } else if (value[i] == ';' && !quoted) {
      pieces.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(value.substr(start));
  return pieces;
}

std::string Unquote(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

MultipartParser::MultipartParser(std::string boundary, Receiver* receiver)
    : MultipartParser(std::move(boundary), receiver, Limits()) {}

MultipartParser::MultipartParser(std::string boundary, Receiver* receiver, Limits limits)
    : delimiter_("\r\n--" + boundary), receiver_(receiver), limits_(limits) {
  skip_.fill(delimiter_.size());
  for (size_t i = 0; i + 1 < delimiter_.size(); ++i) {
    skip_[static_cast<unsigned char>(delimiter_[i])] = delimiter_.size() - 1 - i;
  }
  // The first delimiter of a body has no line break in front of it; supplying one lets every
  // delimiter be found the same way.
  buffer_ = "\r\n";
  if (boundary.empty() || boundary.size() > kMaxBoundaryLength) {
    Fail("the boundary is empty or too long");
  }
}

bool MultipartParser::Fail(std::string reason) {
  if (state_ != State::kFailed) {
    error_ = std::move(reason);
    state_ = State::kFailed;
  }
  buffer_.clear();
  return false;
}

size_t MultipartParser::FindDelimiter(const char* data, size_t size) const {
  // Horspool: the byte under the delimiter's last position says how far it can move. In file
  // data most bytes do not occur in the delimiter, so the search mostly moves its whole length;
  // a plain find stops at every CR, which in binary data comes every 256 bytes or so.
  const size_t length = delimiter_.size();
  if (size < length) return std::string::npos;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  const auto last = static_cast<unsigned char>(delimiter_.back());
  for (size_t at = 0; at <= size - length;) {
    const unsigned char probe = bytes[at + length - 1];
    if (probe == last && std::memcmp(data + at, delimiter_.data(), length - 1) == 0) return at;
    at += skip_[probe];
  }
  return std::string::npos;
}

bool MultipartParser::FeedBody(const char*& data, size_t& size) {
  const size_t length = delimiter_.size();
  if (size < 2 * length || buffer_.size() >= length) return true;
  if (!buffer_.empty()) {
    // A delimiter that begins in the kept tail ends within the first length - 1 new bytes; in
    // that case the buffered path takes over.
    std::string join = buffer_;
    join.append(data, length - 1);
    if (join.find(delimiter_) != std::string::npos) return true;
    if (!EmitBody(buffer_.data(), buffer_.size())) return false;
    buffer_.clear();
  }
  const size_t hit = FindDelimiter(data, size);
  if (hit == std::string::npos) {
    const size_t keep = length - 1;
    if (!EmitBody(data, size - keep)) return false;
    buffer_.assign(data + size - keep, keep);
    data += size;
    size = 0;
    return true;
  }
  if (!EmitBody(data, hit) || !EndPart()) return false;
  padding_ = 0;
  state_ = State::kAfterDelimiter;
  data += hit + length;
  size -= hit + length;
  return true;
}

bool MultipartParser::Feed(const char* data, size_t size) {
  // File data, the bulk of a body, goes to the receiver straight from the caller's piece. The
  // rest (delimiters, part headers, field values) is gathered in the buffer a slice at a time,
  // so that file data following it in the same piece is not copied either.
  while (size > 0) {
    if (state_ == State::kFailed) return false;
    if (state_ == State::kEpilogue) return true;
    if (state_ == State::kBody) {
      const size_t before = size;
      if (!FeedBody(data, size)) return false;
      if (size != before) continue;
      return FeedBuffered(data, size);  // a short piece, or a delimiter across two pieces
    }
    const size_t slice = std::min(size, kBufferedSlice);
    if (!FeedBuffered(data, slice)) return false;
    data += slice;
    size -= slice;
  }
  return state_ != State::kFailed;
}

bool MultipartParser::FeedBuffered(const char* data, size_t size) {
  if (state_ == State::kFailed) return false;
  if (state_ == State::kEpilogue) return true;  // anything after the closing delimiter is ignored
  buffer_.append(data, size);
  size_t pos = 0;
  bool more = true;
  while (more) {
    const size_t available = buffer_.size() - pos;
    switch (state_) {
      case State::kPreamble: {
        const size_t hit = buffer_.find(delimiter_, pos);
        if (hit == std::string::npos) {
          const size_t keep = std::min(available, delimiter_.size() - 1);
          preambleBytes_ += available - keep;
          pos = buffer_.size() - keep;
          more = false;
        } else {
          preambleBytes_ += hit - pos;
          pos = hit + delimiter_.size();
          state_ = State::kAfterDelimiter;
        }
        if (preambleBytes_ > limits_.maxPreambleBytes) {
          return Fail("no boundary at the start of the body");
        }
        break;
      }
      case State::kAfterDelimiter: {
        while (pos < buffer_.size() && (buffer_[pos] == ' ' || buffer_[pos] == '\t')) {
          ++pos;
          if (++padding_ > kMaxPadding) return Fail("too much padding after a boundary");
        }
        if (buffer_.size() - pos < 2) {
          more = false;
          break;
        }
        if (buffer_.compare(pos, 2, "--") == 0) {
          pos += 2;
          state_ = State::kEpilogue;
          more = false;
        } else if (buffer_.compare(pos, 2, "\r\n") == 0) {
          pos += 2;
          if (++parts_ > limits_.maxParts) return Fail("too many parts");
          state_ = State::kHeaders;
          headerBytes_ = 0;
          hasDisposition_ = false;
          isFile_ = false;
          partName_.clear();
          fileName_.clear();
          fieldValue_.clear();
        } else {
          return Fail("a boundary is followed by neither a line break nor \"--\"");
        }
        break;
      }
      case State::kHeaders: {
        const size_t eol = buffer_.find("\r\n", pos);
        if (eol == std::string::npos) {
          if (headerBytes_ + available > limits_.maxHeaderBytes) {
            return Fail("part headers are too long");
          }
          more = false;
          break;
        }
        const std::string_view line(buffer_.data() + pos, eol - pos);
        headerBytes_ += line.size() + 2;
        if (headerBytes_ > limits_.maxHeaderBytes) return Fail("part headers are too long");
        pos = eol + 2;
        if (line.empty()) {
          if (!BeginPart()) return false;
          state_ = State::kBody;
        } else if (!ParseHeaderLine(line)) {
          return false;
        }
        break;
      }
      case State::kBody: {
        const size_t found = FindDelimiter(buffer_.data() + pos, available);
        const size_t hit = found == std::string::npos ? found : pos + found;
        if (hit == std::string::npos) {
          const size_t keep = std::min(available, delimiter_.size() - 1);
          if (!EmitBody(buffer_.data() + pos, available - keep)) return false;
          pos = buffer_.size() - keep;
          more = false;
        } else {
          if (!EmitBody(buffer_.data() + pos, hit - pos) || !EndPart()) return false;
          pos = hit + delimiter_.size();
          padding_ = 0;
          state_ = State::kAfterDelimiter;
        }
        break;
      }
      case State::kEpilogue:
        pos = buffer_.size();
        more = false;
        break;
      case State::kFailed:
        return false;
    }
  }
  buffer_.erase(0, pos);
  return true;
}

bool MultipartParser::Finish() {
  if (state_ == State::kEpilogue) return true;
  if (state_ == State::kFailed) return false;
  return Fail("the body ended before its closing boundary");
}

bool MultipartParser::ParseHeaderLine(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return Fail("a part header has no name");
  const std::string_view name = Trim(line.substr(0, colon));
  if (!EqualsNoCase(name, "Content-Disposition")) return true;
  // The uploader writes "form-data;name=..." without a blank and names its file part
  // "multipart/form-data"; the type is therefore not checked, only the parameters.
  const auto pieces = SplitParameters(line.substr(colon + 1));
  if (Trim(pieces.front()).empty()) return Fail("a part's disposition has no type");
  hasDisposition_ = true;
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::string_view piece = Trim(pieces[i]);
    const size_t equals = piece.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(piece.substr(0, equals));
    if (EqualsNoCase(key, "name")) {
      partName_ = Unquote(piece.substr(equals + 1));
    } else if (EqualsNoCase(key, "filename")) {
      fileName_ = Unquote(piece.substr(equals + 1));
      isFile_ = true;
    }
  }
  return true;
}

bool MultipartParser::BeginPart() {
  if (!hasDisposition_ || partName_.empty()) return Fail("a part has no name");
  if (isFile_ && !receiver_->OnFileBegin(partName_, fileName_)) {
    return Fail("the file part was refused");
  }
  return true;
}

bool MultipartParser::EmitBody(const char* data, size_t size) {
  if (size == 0) return true;
  if (isFile_) {
    fileBytes_ += size;
    if (!receiver_->OnFileData(data, size)) return Fail("the file data was refused");
    return true;
  }
  if (fieldValue_.size() + size > limits_.maxFieldBytes) {
    return Fail("the value of field \"" + partName_ + "\" is too long");
  }
  fieldValue_.append(data, size);
  return true;
}

bool MultipartParser::EndPart() {
  if (isFile_) {
    if (!receiver_->OnFileEnd()) return Fail("the file part was refused");
    return true;
  }
  if (!receiver_->OnField(partName_, fieldValue_)) {
    return Fail("field \"" + partName_ + "\" was refused");
  }
  return true;
}

bool MultipartParser::BoundaryFromContentType(std::string_view contentType, std::string* boundary) {
  const auto pieces = SplitParameters(contentType);
  if (!EqualsNoCase(Trim(pieces.front()), "multipart/form-data")) return false;
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::string_view piece = Trim(pieces[i]);
    const size_t equals = piece.find('=');
    if (equals == std::string_view::npos) continue;
    if (!EqualsNoCase(Trim(piece.substr(0, equals)), "boundary")) continue;
    std::string value = Unquote(piece.substr(equals + 1));
    if (value.empty() || value.size() > kMaxBoundaryLength ||
        value.find_first_of("\r\n") != std::string::npos) {
      return false;
    }
    *boundary = std::move(value);
    return true;
  }
  return false;
}

}  // namespace kqserver
