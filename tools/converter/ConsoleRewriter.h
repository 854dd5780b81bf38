#pragma once

#include <string>

// Rewrites the installed ffmpeg's console text into the spellings the program reads: stream
// numbers "#0:1" become "#0.1" and elapsed times "time=00:01:02.50" become "time=62.50".
// Works on whole lines (or status lines ended by CR); text is passed through as it comes.
class ConsoleRewriter {
 public:
  // Feeds bytes; returns what can be written now. Complete lines are rewritten; a partial line is
  // held back until its end arrives or Flush() is called.
  std::string Feed(const std::string& bytes);
  std::string Flush();
  bool HasPending() const { return !pending_.empty(); }

  static std::string RewriteLine(const std::string& line);

 private:
  static constexpr size_t kMaxPendingBytes = 65536;
  std::string pending_;
};
