#pragma once

// The one reading of a command line for qovixd, qovix and qovix-store: an
// option is `--name VALUE`, `--name=VALUE`, or a flag alone; every other
// word (a command and its arguments) is handed on in order. Each program's
// table says which options there are, what each takes, and what it does.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cli {

// Why a command line will not do; nothing when it will.
using Refusal = std::optional<std::string>;

// What a program's table says of an option a word names.
struct OptionSpec {
  bool takesValue = false;
  // After the first word that is no option, it is such a word itself.
  bool beforeWordsOnly = false;
};

struct CommandLine {
  // The option a word names, or nothing for none ("-h" may name --help).
  std::function<std::optional<OptionSpec>(std::string_view word)> find;
  // Takes the option `name` (as `find` was given it) with its value ("" for
  // a flag); its refusal refuses the command line.
  std::function<Refusal(std::string_view name, const std::string& value)> apply;
  // Takes a word that is no option; none: such a word is refused.
  std::function<void(std::string word)> word;
};

// Reads `arguments` (argv past the program's name) by `line`. An unknown
// `--name` before the first word is refused; after it, it is a word.
Refusal readCommandLine(std::span<const char* const> arguments, const CommandLine& line);

}  // namespace cli
