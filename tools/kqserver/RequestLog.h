#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace kqserver {

// One line per request, appended to requests.log in the data folder and, when verbose, echoed
// on standard error.
class RequestLog {
 public:
  RequestLog() = default;
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  bool Open(const std::string& path, bool verbose);
  void Write(const std::string& line);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool verbose_ = false;
};

}  // namespace kqserver
