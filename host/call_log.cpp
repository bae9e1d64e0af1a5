#include "host/call_log.h"

void CallLog::sayCounted() {
  if (repeats_ > 0) {
    std::fprintf(out_, "qovixd: (the line above came %ld more times)\n", repeats_);
  }
  if (suppressed_ > 0) {
    std::fprintf(out_, "qovixd: (%ld more lines were not written: too many in a second)\n",
                 suppressed_);
  }
  repeats_ = suppressed_ = 0;
  std::fflush(out_);
}

void CallLog::say(const std::string& text, Clock::time_point now) {
  if (now - secondStart_ >= std::chrono::seconds(1)) {
    sayCounted();
    secondStart_ = now;
    linesThisSecond_ = 0;
  }
  if (text == last_) {
    ++repeats_;
    return;
  }
  if (linesThisSecond_ >= kMostLinesPerSecond) {
    ++suppressed_;
    return;
  }
  sayCounted();
  last_ = text;
  ++linesThisSecond_;
  std::fprintf(out_, "qovixd: %s\n", text.c_str());
  std::fflush(out_);
}
