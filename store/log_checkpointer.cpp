#include "store/log_checkpointer.h"

#include <exception>
#include <memory>

LogCheckpointer::LogCheckpointer(const std::filesystem::path& path, sqlite3* writer, bool full)
    : path_(path), writer_(writer), full_(full) {
  sqlite3_busy_handler(writer_, &LogCheckpointer::writerBusy, this);
}

int LogCheckpointer::writerBusy(void* self, int tries) noexcept {
  // A millisecond a try, or less when the thread's pass ends first: the
  // writer takes its turn as soon as the lock is free.
  constexpr std::chrono::milliseconds kStep{1};
  if (tries >= kMostWriterWait / kStep) return 0;
  auto& checkpointer = *static_cast<LogCheckpointer*>(self);
  try {
    std::unique_lock lock(checkpointer.mutex_);
    if (checkpointer.checkpointing_) {
      checkpointer.passEnded_.wait_for(lock, kStep, [&] { return !checkpointer.checkpointing_; });
    } else {
      lock.unlock();
      std::this_thread::sleep_for(kStep);
    }
  } catch (...) {
    return 0;  // the writer's statement fails as busy, and says so
  }
  return 1;
}

LogCheckpointer::~LogCheckpointer() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool LogCheckpointer::checkpoint(sqlite3* database) {
  int logged = 0, copied = 0;
  const int code =
      sqlite3_wal_checkpoint_v2(database, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logged, &copied);
  return code == SQLITE_OK && copied == logged;
}

void LogCheckpointer::logGrew(int pages) {
  bool writerMust = false, wake = false;
  {
    const std::lock_guard lock(mutex_);
    // The thread waits for the log to reach a bound, or for a pause: it is
    // woken only when a bound is crossed.
    wake = (pages_ < kPausePages && pages >= kPausePages) ||
           (pages_ < kBusyPages && pages >= kBusyPages);
    pages_ = pages;
    lastCommit_ = Clock::now();
    writerMust = pages >= kMostPages || (failed_ && pages >= kBusyPages);
    if (!writerMust && wake && !thread_.joinable() && !failed_) {
      try {
        thread_ = std::thread([this] { run(); });
      } catch (const std::exception&) {
        failed_ = true;  // no thread: the writer checkpoints
      }
    }
  }
  if (writerMust) {
    // The thread's pass, if one is under way, ends first: the writer's own
    // then copies the rest, all of it, so that the log starts over.
    std::unique_lock lock(mutex_);
    passEnded_.wait(lock, [this] { return !checkpointing_; });
    lock.unlock();
    // As SQLite's own hook would: a failure here fails no commit.
    const bool copied = checkpoint(writer_);
    lock.lock();
    if (copied) pages_ = 0;
    return;
  }
  if (wake) wake_.notify_one();
}

void LogCheckpointer::run() {
  std::unique_ptr<Database> own;
  try {
    own = std::make_unique<Database>(path_, false);
    own->execute(full_ ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
  } catch (const std::exception&) {
    const std::lock_guard lock(mutex_);
    failed_ = true;
    return;
  }
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (pages_ < kPausePages) {
      wake_.wait(lock);
      continue;
    }
    if (pages_ < kBusyPages && Clock::now() < lastCommit_ + kPause) {
      wake_.wait_until(lock, lastCommit_ + kPause);
      continue;
    }
    // Copied or not, the next commit says what the log holds then; until
    // then it is not looked at again.
    pages_ = 0;
    checkpointing_ = true;
    lock.unlock();
    checkpoint(own->get());
    lock.lock();
    checkpointing_ = false;
    passEnded_.notify_all();
  }
}
