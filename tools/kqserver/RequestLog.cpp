#include "tools/kqserver/RequestLog.h"

#include <chrono>
#include <ctime>

namespace kqserver {

RequestLog::~RequestLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RequestLog::Open(const std::string& path, bool verbose) {
  verbose_ = verbose;
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void RequestLog::Write(const std::string& line) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char stamp[40];
  const size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(stamp + length, sizeof stamp - length, ".%03dZ", static_cast<int>(millis));
  // Paths and field values come from clients; control characters must not forge lines.
  std::string clean = line;
  for (char& c : clean) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) {
    std::fprintf(file_, "%s %s\n", stamp, clean.c_str());
    std::fflush(file_);
  }
  if (verbose_) std::fprintf(stderr, "%s %s\n", stamp, clean.c_str());
}

}  // namespace kqserver
