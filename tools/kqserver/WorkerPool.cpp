#include "tools/kqserver/WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kqserver {

namespace {

constexpr size_t kCoreWorkers = 8;
constexpr auto kIdleLifetime = std::chrono::seconds(30);

}  // namespace

WorkerPool::WorkerPool(size_t maxWorkers) : maxWorkers_(std::max<size_t>(1, maxWorkers)) {}

WorkerPool::~WorkerPool() { shutdown(); }

void WorkerPool::enqueue(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  tasks_.push_back(std::move(task));
  if (idle_ < tasks_.size() && workers_ < maxWorkers_) {
    ++workers_;
    std::thread([this] { Work(); }).detach();
  }
  wake_.notify_one();
}

void WorkerPool::shutdown() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  // Workers finish the connections already handed over, then leave.
  allGone_.wait(lock, [this] { return workers_ == 0; });
}

void WorkerPool::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    const bool woken =
        wake_.wait_for(lock, kIdleLifetime, [this] { return stopping_ || !tasks_.empty(); });
    --idle_;
    if (tasks_.empty() && (stopping_ || (!woken && workers_ > kCoreWorkers))) break;
    if (tasks_.empty()) continue;
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
  if (--workers_ == 0) allGone_.notify_all();
}

}  // namespace kqserver
