#pragma once

// What qovixd says on stderr about the calls it serves (a model exception, a
// commit that failed). A client can make such calls as fast as it likes, so
// the log cannot grow with them: a line that repeats the one before is
// counted, not written again, and past kMostLinesPerSecond lines in a second
// the rest are counted too. The counts are said with the next line written,
// or when qovixd stops.

#include <chrono>
#include <cstdio>
#include <string>

class CallLog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kMostLinesPerSecond = 20;

  explicit CallLog(std::FILE* out = stderr) : out_(out) {}
  // Says what is still counted.
  ~CallLog() { sayCounted(); }
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;

  // Writes "qovixd: TEXT", or counts it.
  void say(const std::string& text, Clock::time_point now = Clock::now());
  // Writes it always, neither counted nor limited: an audit line (a delete),
  // which only a principal allowed to write can cause.
  void record(const std::string& text);

 private:
  void sayCounted();

  std::FILE* out_;
  std::string last_;
  long repeats_ = 0;     // of `last_`, not yet said
  long suppressed_ = 0;  // other lines past the budget, not yet said
  Clock::time_point secondStart_{};
  int linesThisSecond_ = 0;
};
