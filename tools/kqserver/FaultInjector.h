#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kqserver {

// Misbehaviour armed on purpose so that clients can be tested against a server that fails.
// A fault is written as comma-separated settings, for example
//   path=/mavo/putFile,block=1,status=500,times=once
//   path=/mavo/putFile/,drop,always
//   path=/mavo/getVersion/,delay=2000
// path: requests whose path starts with this (default: every route but /admin);
// block: only the block with this seqno (default: any request);
// one kind: status=N (answer with that status), empty (200 with no body), nourl (200 without a
// url element), drop (close the connection halfway through the request body), truncate (close
// halfway through the answer body), delay=MS (answer after MS milliseconds), overwrite=N (a
// getVersion answer carries overwrite N, so a client's replace question can be reached), down=MS
// (the link goes down: this request and every one within MS milliseconds after it is cut off
// without an answer, as soon as it can be);
// times: once (default), always, or a count.
class FaultInjector {
 public:
  enum class Kind { kStatus, kEmpty, kNoUrl, kDrop, kTruncate, kDelay, kOverwrite, kDown };

  struct Fault {
    int id = 0;
    std::string rule;
    std::string path = "/";
    std::optional<int64_t> block;
    Kind kind = Kind::kStatus;
    int status = 500;
    int delayMs = 0;
    int overwrite = 0;
    int downMs = 0;
    // A drop that closes the connection at the first chance instead of halfway.
    bool dropAtOnce = false;
    int remaining = 1;  // -1: always
    int hits = 0;
  };

  static bool Parse(const std::string& rule, Fault* fault, std::string* error);
  static const char* KindName(Kind kind);

  int Arm(Fault fault);
  void Clear();
  // The first armed fault for this request, used up by one; null when none applies. While a
  // down fault holds, every request gets a drop at once.
  std::optional<Fault> Take(const std::string& path, std::optional<int64_t> block);
  std::vector<Fault> List();

 private:
  std::mutex mutex_;
  std::vector<Fault> faults_;
  int nextId_ = 1;
  std::chrono::steady_clock::time_point downUntil_{};
};

}  // namespace kqserver
