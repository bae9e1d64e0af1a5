#include "host/call_log.h"

namespace {

constexpr std::size_t kMostLineBytes = 2000;

// What a call's failure says may quote a client's bytes: control
// characters (terminal escapes, line breaks) are written as \xNN, and a
// long text is cut.
std::string printable(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  for (; i < text.size() && out.size() < kMostLineBytes; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += static_cast<char>(byte);
    }
  }
  if (i < text.size()) out += " ... (cut)";
  return out;
}

}  // namespace

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

void CallLog::record(const std::string& text) {
  sayCounted();
  last_.clear();
  std::fprintf(out_, "qovixd: %s\n", printable(text).c_str());
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
  std::fprintf(out_, "qovixd: %s\n", printable(text).c_str());
  std::fflush(out_);
}
