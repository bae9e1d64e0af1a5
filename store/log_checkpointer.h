#pragma once

// Copies a repository file's write-ahead log into the file on a thread and
// a connection of its own, so that no call waits for it: once writes pause,
// when the log holds a hundred pages or more, and at once when it holds a
// thousand. SQLite
// lets a checkpoint run beside the writer; the writer goes on appending,
// and starts the log again from its beginning once all of it is copied.
// Only when the log outgrows its bound (the thread cannot keep up, or
// failed) does the writer checkpoint it itself, as SQLite would.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "store/database.h"

class LogCheckpointer {
 public:
  using Clock = std::chrono::steady_clock;
  // Checkpointed once writes pause this long, from this many pages on; at
  // once from kBusyPages on.
  static constexpr int kPausePages = 100;
  static constexpr std::chrono::milliseconds kPause{2};
  static constexpr int kBusyPages = 1000;
  // The writer checkpoints the log itself past this many.
  static constexpr int kMostPages = 8000;
  // How long the writer waits, at most, for a lock the thread's connection
  // holds a moment (its checkpoint, its opening): no other server has the
  // file, its lock says so, and the thread's pass takes milliseconds.
  static constexpr std::chrono::milliseconds kMostWriterWait{10'000};

  // For the file `path` that `writer` writes; `full`: synced as
  // PRAGMA synchronous = FULL says, else NORMAL. The thread starts when the
  // log first needs it. The writer's busy handler is the checkpointer's
  // from now on: it waits for the thread's locks, within kMostWriterWait.
  LogCheckpointer(const std::filesystem::path& path, sqlite3* writer, bool full);
  // Stops the thread; what the log holds stays in it, as safe as in the file.
  ~LogCheckpointer();
  LogCheckpointer(const LogCheckpointer&) = delete;
  LogCheckpointer& operator=(const LogCheckpointer&) = delete;

  // After each commit: the pages the log holds since it last started over.
  void logGrew(int pages);

 private:
  void run();
  // One passive checkpoint on `database`; whether it copied all there was.
  static bool checkpoint(sqlite3* database);
  // SQLite's busy handler of the writer: whether to try again. Nothing may
  // unwind through SQLite: what fails here gives up the wait.
  static int writerBusy(void* self, int tries) noexcept;

  std::filesystem::path path_;
  sqlite3* writer_;
  bool full_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable passEnded_;
  bool checkpointing_ = false;  // the thread's pass is under way
  int pages_ = 0;               // in the log, as the last commit found
  Clock::time_point lastCommit_;
  bool stopping_ = false;
  bool failed_ = false;  // the thread could not open its connection, or stopped
  std::thread thread_;
};
