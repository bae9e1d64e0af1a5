#include "store/write_behind.h"

#include <signal.h>

#include <utility>

WriteBehind::WriteBehind() : worker_([this] { work(); }) {}

WriteBehind::~WriteBehind() {
  {
    const std::unique_lock lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void WriteBehind::waitIdle(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [&] { return jobs_.empty(); });
}

void WriteBehind::post(std::function<void()> job) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.size() < kMostJobs; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    jobs_.push_back(std::move(job));
    unsettled_.store(true, std::memory_order_relaxed);
  }
  changed_.notify_all();
}

void WriteBehind::settle() {
  if (settled() || onWorker()) return;
  std::unique_lock lock(mutex_);
  waitIdle(lock);
  unsettled_.store(false, std::memory_order_release);
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void WriteBehind::wait() noexcept {
  if (settled() || onWorker()) return;
  std::unique_lock lock(mutex_);
  waitIdle(lock);
  if (!failure_) unsettled_.store(false, std::memory_order_release);
}

void WriteBehind::drop() noexcept {
  if (settled() || onWorker()) return;
  std::unique_lock lock(mutex_);
  waitIdle(lock);
  failure_ = nullptr;
  unsettled_.store(false, std::memory_order_release);
}

void WriteBehind::work() {
  // Signals are the serving thread's to take (it watches them through a
  // descriptor, with them blocked): none may end up here.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, with nothing left
    std::exception_ptr failed;
    if (!failure_) {  // after a failure the transaction is lost: nothing more is written
      lock.unlock();
      try {
        jobs_.front()();
      } catch (...) {
        failed = std::current_exception();
      }
      lock.lock();
    }
    if (failed) failure_ = failed;
    jobs_.pop_front();
    changed_.notify_all();
  }
}
