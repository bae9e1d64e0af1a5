// The one reading of qovixd's, qovix's and qovix-store's command lines:
// where a value comes from, which words are options, and what is refused.

#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// A table of --port (a value), --tls (a flag) and --version (a flag before
// the first word only), reading `arguments`; what it took, as
// "name=value" and "word" items, or the refusal.
std::vector<std::string> read(std::vector<const char*> arguments, bool words = true) {
  const std::map<std::string, cli::OptionSpec, std::less<>> table = {
      {"--port", {.takesValue = true}},
      {"--tls", {}},
      {"--version", {.beforeWordsOnly = true}}};
  std::vector<std::string> took;
  cli::CommandLine line{
      .find = [&](std::string_view name) -> std::optional<cli::OptionSpec> {
        const auto found = table.find(name);
        if (found == table.end()) return std::nullopt;
        return found->second;
      },
      .apply = [&](std::string_view name, const std::string& value) -> cli::Refusal {
        if (value == "bad") return "'bad' will not do";
        took.push_back(std::string(name) + "=" + value);
        return std::nullopt;
      },
      .word = nullptr};
  if (words) line.word = [&](std::string word) { took.push_back(word); };
  if (auto refused = cli::readCommandLine(arguments, line)) return {"refused: " + *refused};
  return took;
}

using Took = std::vector<std::string>;

TEST(CommandLine, ValuesWordsAndOptionsAfterTheFirstWord) {
  EXPECT_EQ(read({"--port", "1", "--port=2", "--tls", "ls", "Class", "--port", "3"}),
            (Took{"--port=1", "--port=2", "--tls=", "ls", "Class", "--port=3"}));
  EXPECT_EQ(read({"call", "--version", "--other", "-x"}),
            (Took{"call", "--version", "--other", "-x"}))
      << "after the first word, an option before words only and an unknown one are words";
  EXPECT_EQ(read({"--version"}), (Took{"--version="}));
  EXPECT_EQ(read({"--port="}), (Took{"--port="})) << "an empty value is the option's to judge";
}

TEST(CommandLine, RefusalsNameTheWord) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> refused = {
      {{"--port"}, "option '--port' needs a value"},
      {{"--tls=yes"}, "option '--tls' takes no value"},
      {{"--verbose", "ls"}, "unknown option '--verbose'"},
      {{"--port", "bad"}, "'bad' will not do"},
  };
  for (const auto& [arguments, says] : refused) {
    EXPECT_EQ(read(arguments), (Took{"refused: " + says})) << says;
  }
  EXPECT_EQ(read({"serve"}, false), (Took{"refused: unexpected argument 'serve'"}));
}

}  // namespace
