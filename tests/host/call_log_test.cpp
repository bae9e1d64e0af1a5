#include "host/call_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// What a CallLog wrote, read back once it is gone.
class Written {
 public:
  Written() : out_(open_memstream(&text_, &size_)) {}
  ~Written() { std::free(text_); }
  std::FILE* file() { return out_; }
  std::string close() {
    std::fclose(out_);
    return std::string(text_, size_);
  }

 private:
  char* text_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* out_;
};

int lines(const std::string& text) {
  int count = 0;
  for (char c : text) count += c == '\n';
  return count;
}

TEST(CallLog, RepeatsAreCountedAndAFloodIsCut) {
  Written repeated;
  {
    CallLog log(repeated.file());
    const auto now = CallLog::Clock::now();
    for (int i = 0; i < 100000; ++i) log.say("class 2 procedure 5: out of memory", now);
    log.say("something else", now);
  }
  EXPECT_EQ(repeated.close(),
            "qovixd: class 2 procedure 5: out of memory\n"
            "qovixd: (the line above came 99999 more times)\n"
            "qovixd: something else\n");

  Written flood;
  {
    CallLog log(flood.file());
    const auto start = CallLog::Clock::now();
    for (int i = 0; i < 1000; ++i) log.say("call " + std::to_string(i), start);
    log.say("a second later", start + std::chrono::seconds(1));
  }
  const std::string text = flood.close();
  EXPECT_EQ(lines(text), CallLog::kMostLinesPerSecond + 2) << text;
  EXPECT_NE(text.find("(980 more lines were not written: too many in a second)\n"
                      "qovixd: a second later\n"),
            std::string::npos)
      << text;
}

// A failure may quote what a client sent: it reaches the log one line long,
// with no terminal escape or line break of its own, and cut when long.
TEST(CallLog, ControlCharactersAreEscapedAndLongLinesCut) {
  Written escaped;
  {
    CallLog log(escaped.file());
    log.say("XMI document 'x' line 3: \x1b[31mred\x1b[0m\nqovixd: forged\r");
    log.say(std::string(100000, 'n'));
  }
  const std::string text = escaped.close();
  EXPECT_EQ(text.substr(0, text.find('\n') + 1),
            "qovixd: XMI document 'x' line 3: \\x1b[31mred\\x1b[0m\\x0aqovixd: forged\\x0d\n");
  EXPECT_EQ(lines(text), 2);
  EXPECT_LT(text.size(), 2100u);
  EXPECT_NE(text.find(" ... (cut)\n"), std::string::npos);
}

// Audit lines (a delete's) are all written, past the budget and repeated,
// after what was counted so far.
TEST(CallLog, RecordsAreNeverCountedAway) {
  Written audited;
  {
    CallLog log(audited.file());
    for (int i = 0; i < 30; ++i) log.say("busy " + std::to_string(i));
    for (int i = 0; i < 3; ++i) log.record("alice deleted object 7");
  }
  const std::string text = audited.close();
  EXPECT_NE(text.find("(10 more lines were not written: too many in a second)\n"
                      "qovixd: alice deleted object 7\n"
                      "qovixd: alice deleted object 7\n"
                      "qovixd: alice deleted object 7\n"),
            std::string::npos)
      << text;
}

}  // namespace
