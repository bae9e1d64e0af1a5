#pragma once

// A connection's writes handed to a thread of their own, so that the caller
// makes the next rows while SQLite writes the last: an import spends about
// half its time in SQLite's inserts. Jobs run one at a time, in the order
// given; a few may wait, since they differ in length (a batch of names
// takes less than one of rows), and one at a time would leave the thread
// idle while the caller fills a long batch.
// The connection is the caller's again once settle() (or wait()) returns,
// and the caller uses nothing a job it handed on uses until then; every
// statement of the connection settles before it runs (database.h), so no
// read ever misses a row handed on.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class WriteBehind {
 public:
  WriteBehind();
  // Waits for the job under way; a failure of its is dropped.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // The most jobs that wait or run at once.
  static constexpr std::size_t kMostJobs = 8;

  // Hands `job` on, once fewer than kMostJobs are left; rethrows the
  // failure of one before.
  void post(std::function<void()> job);
  // Waits for every job handed on, and rethrows a failure (once).
  void settle();
  // Waits for every job handed on; a failure waits for the next settle().
  void wait() noexcept;
  // Waits for every job handed on, and forgets a failure: the caller is
  // undoing the transaction it failed in.
  void drop() noexcept;

 private:
  bool onWorker() const { return std::this_thread::get_id() == worker_.get_id(); }
  // Nothing handed on since the caller last waited for it all, and no
  // failure to throw: what every statement asks first, without the lock.
  bool settled() const { return !unsettled_.load(std::memory_order_acquire); }
  void waitIdle(std::unique_lock<std::mutex>& lock);
  void work();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;  // the first is under way
  std::exception_ptr failure_;              // the first; the jobs after it are not run
  // Set by the caller as it hands a job on, cleared only once it has seen
  // every job done (and the failure thrown): so the caller alone writes it.
  std::atomic<bool> unsettled_{false};
  bool stopping_ = false;
  std::thread worker_;  // last: started once the rest is ready
};
