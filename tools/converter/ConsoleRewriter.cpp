#include "tools/converter/ConsoleRewriter.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Reads digits at `at`; returns how many.
size_t Digits(const std::string& text, size_t at) {
  size_t n = 0;
  while (at + n < text.size() && IsDigit(text[at + n])) ++n;
  return n;
}

// "#<digits>:<digits>" -> "#<digits>.<digits>" everywhere in the line.
std::string RewriteStreamNumbers(const std::string& line) {
  std::string out = line;
  for (size_t at = out.find('#'); at != std::string::npos; at = out.find('#', at + 1)) {
    const size_t file = Digits(out, at + 1);
    if (file == 0) continue;
    const size_t colon = at + 1 + file;
    if (colon < out.size() && out[colon] == ':' && Digits(out, colon + 1) > 0) out[colon] = '.';
  }
  return out;
}

// "time=[-]HH:MM:SS.xx" -> "time=[-]seconds.xx".
std::string RewriteTimes(const std::string& line) {
  static const std::string marker = "time=";
  std::string out;
  size_t from = 0;
  for (size_t at = line.find(marker); at != std::string::npos; at = line.find(marker, from)) {
    size_t p = at + marker.size();
    out.append(line, from, p - from);
    from = p;
    const bool negative = p < line.size() && line[p] == '-';
    if (negative) ++p;
    const size_t h = Digits(line, p);
    if (h == 0 || p + h >= line.size() || line[p + h] != ':') continue;
    const size_t m = Digits(line, p + h + 1);
    const size_t secondsAt = p + h + 1 + m;
    if (m == 0 || secondsAt >= line.size() || line[secondsAt] != ':') continue;
    size_t end = secondsAt + 1;
    const size_t s = Digits(line, end);
    if (s == 0) continue;
    end += s;
    if (end < line.size() && line[end] == '.') end += 1 + Digits(line, end + 1);
    const double hours = std::strtod(line.substr(p, h).c_str(), nullptr);
    const double minutes = std::strtod(line.substr(p + h + 1, m).c_str(), nullptr);
    const double seconds =
        std::strtod(line.substr(secondsAt + 1, end - secondsAt - 1).c_str(), nullptr);
    char value[64];
    std::snprintf(value, sizeof(value), "%s%.2f", negative ? "-" : "",
                  hours * 3600 + minutes * 60 + seconds);
    out += value;
    from = end;
  }
  out.append(line, from, std::string::npos);
  return out;
}

}  // namespace

std::string ConsoleRewriter::RewriteLine(const std::string& line) {
  return RewriteTimes(RewriteStreamNumbers(line));
}

std::string ConsoleRewriter::Feed(const std::string& bytes) {
  pending_ += bytes;
  std::string out;
  size_t start = 0;
  for (size_t at = pending_.find_first_of("\r\n"); at != std::string::npos;
       at = pending_.find_first_of("\r\n", start)) {
    out += RewriteLine(pending_.substr(start, at - start));
    out += pending_[at];
    start = at + 1;
  }
  pending_.erase(0, start);
  // A line that never ends must not hold the console back or grow without bound.
  if (pending_.size() > kMaxPendingBytes) out += Flush();
  return out;
}

std::string ConsoleRewriter::Flush() {
  std::string out = RewriteLine(pending_);
  pending_.clear();
  return out;
}
