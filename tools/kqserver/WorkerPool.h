#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace kqserver {

// Serves each accepted connection on a thread of its own, up to a limit, so that clients that
// are slow to send do not keep the others waiting behind them in a short queue. Threads beyond
// a small core end after a while without work, which returns their buffers.
class WorkerPool : public httplib::TaskQueue {
 public:
  explicit WorkerPool(size_t maxWorkers);
  ~WorkerPool() override;

  void enqueue(std::function<void()> task) override;
  void shutdown() override;

 private:
  void Work();

  const size_t maxWorkers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable allGone_;
  std::deque<std::function<void()>> tasks_;
  size_t workers_ = 0;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace kqserver
