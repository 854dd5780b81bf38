#include "platform/inet/HttpResponseHead.h"

#include <charconv>

namespace inet {

namespace {

bool IsTokenChar(char c) {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool ParseDigits(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// "HTTP/1.1 200 OK"; the reason may be missing, and some servers leave out the blank before it.
bool ParseStatusLine(std::string_view line, HttpResponseHead& head, std::string& error) {
  if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || line[6] != '.' || line[8] != ' ') {
    error = "the answer does not begin with an HTTP status line";
    return false;
  }
  const char major = line[5];
  const char minor = line[7];
  if (major < '0' || major > '9' || minor < '0' || minor > '9') {
    error = "the answer's HTTP version is not valid";
    return false;
  }
  head.majorVersion = major - '0';
  head.minorVersion = minor - '0';
  std::string_view code = line.substr(9, 3);
  for (char c : code) {
    if (c < '0' || c > '9') {
      error = "the answer's status code is not a number";
      return false;
    }
  }
  head.status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  if (head.status < 100) {
    error = "the answer's status code is out of range";
    return false;
  }
  std::string_view rest = line.substr(12);
  if (!rest.empty() && !IsBlank(rest.front())) {
    error = "the answer's status code is not a number";
    return false;
  }
  head.reason = std::string(Trim(rest));
  return true;
}

// The value ends with the coding "chunked" (a list such as "gzip, chunked" counts).
bool EndsWithChunked(std::string_view value) {
  const std::size_t comma = value.rfind(',');
  const std::string_view last =
      Trim(comma == std::string_view::npos ? value : value.substr(comma + 1));
  return EqualsIgnoreCase(last, "chunked");
}

}  // namespace

HttpResponseHead::ParseResult HttpResponseHead::Parse(std::string_view bytes,
                                                      HttpResponseHead& head, std::size_t& consumed,
                                                      std::string& error) {
  head = HttpResponseHead();
  consumed = 0;
  const std::string_view limited = bytes.substr(0, kMaxResponseHeadBytes);

  std::size_t pos = 0;
  bool first = true;
  std::optional<std::uint64_t> length;
  bool lengthSeen = false;
  while (true) {
    const std::size_t newline = limited.find('\n', pos);
    if (newline == std::string_view::npos) {
      if (bytes.size() >= kMaxResponseHeadBytes) {
        error =
            "the answer's head is larger than " + std::to_string(kMaxResponseHeadBytes) + " bytes";
        return ParseResult::kInvalid;
      }
      return ParseResult::kIncomplete;
    }
    std::string_view line = limited.substr(pos, newline - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = newline + 1;

    if (first) {
      if (!ParseStatusLine(line, head, error)) return ParseResult::kInvalid;
      first = false;
      continue;
    }
    if (line.empty()) break;
    for (char c : line) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) {
        error = "the answer's head holds control characters";
        return ParseResult::kInvalid;
      }
    }
    if (IsBlank(line.front())) {
      // An old-style continuation line belongs to the field above it.
      if (head.fields.empty()) {
        error = "the answer's head begins with a continuation line";
        return ParseResult::kInvalid;
      }
      std::string& value = head.fields.back().second;
      const std::string_view more = Trim(line);
      if (!more.empty()) {
        if (!value.empty()) value += ' ';
        value += more;
      }
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      error = "the answer's head holds a line that is not a header field";
      return ParseResult::kInvalid;
    }
    const std::string_view name = line.substr(0, colon);
    for (char c : name) {
      if (!IsTokenChar(c)) {
        error = "the answer's head holds an invalid field name";
        return ParseResult::kInvalid;
      }
    }
    if (head.fields.size() >= kMaxResponseHeaderCount) {
      error =
          "the answer's head has more than " + std::to_string(kMaxResponseHeaderCount) + " fields";
      return ParseResult::kInvalid;
    }
    head.fields.emplace_back(std::string(name), std::string(Trim(line.substr(colon + 1))));
  }

  for (const auto& [name, value] : head.fields) {
    if (EqualsIgnoreCase(name, "Content-Length")) {
      std::uint64_t parsed = 0;
      if (!ParseDigits(value, parsed)) {
        error = "the answer's Content-Length is not a number";
        return ParseResult::kInvalid;
      }
      // Two different lengths leave the end of the body open to either reading.
      if (lengthSeen && *length != parsed) {
        error = "the answer gives two different Content-Length values";
        return ParseResult::kInvalid;
      }
      length = parsed;
      lengthSeen = true;
    } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
      head.chunked = EndsWithChunked(value);
    }
  }
  // A chunked body frames itself; a length sent along with it does not count.
  if (!head.chunked) head.contentLength = length;
  consumed = pos;
  return ParseResult::kComplete;
}

std::optional<std::string> HttpResponseHead::Field(std::string_view name) const {
  for (const auto& [fieldName, value] : fields) {
    if (EqualsIgnoreCase(fieldName, name)) return value;
  }
  return std::nullopt;
}

bool HttpResponseHead::HasNoBody(std::string_view verb) const {
  return verb == "HEAD" || (status >= 100 && status < 200) || status == 204 || status == 304;
}

}  // namespace inet
