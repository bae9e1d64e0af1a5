#include "cli/command_line.h"

namespace cli {

Refusal readCommandLine(std::span<const char* const> arguments, const CommandLine& line) {
  bool sawWord = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    std::string_view name = argument;
    std::optional<std::string> value;
    if (const auto equals = argument.find('=');
        argument.starts_with("--") && equals != std::string_view::npos) {
      name = argument.substr(0, equals);
      value = std::string(argument.substr(equals + 1));
    }
    const std::optional<OptionSpec> spec = line.find(name);
    if (spec && !(sawWord && spec->beforeWordsOnly)) {
      if (!spec->takesValue) {
        if (value) return "option '" + std::string(name) + "' takes no value";
        value = std::string();
      } else if (!value) {
        if (i + 1 >= arguments.size()) return "option '" + std::string(name) + "' needs a value";
        value = arguments[++i];
      }
      if (Refusal refused = line.apply(name, *value)) return refused;
      continue;
    }
    if (argument.starts_with("--") && !sawWord) {
      return "unknown option '" + std::string(name) + "'";
    }
    if (!line.word) return "unexpected argument '" + std::string(argument) + "'";
    sawWord = true;
    line.word(std::string(argument));
  }
  return std::nullopt;
}

}  // namespace cli
