#pragma once

// The option and command lists of a program's --help, laid out from its
// table: each entry's left part ("--port PORT", "ls CLASS") in a column of
// its own, and its text wrapped beside it.

#include <span>
#include <string>

namespace cli {

struct HelpEntry {
  std::string left;  // what is typed
  std::string text;  // what it does; wrapped at spaces
};

// The entries as lines, their texts from column `column` (a left part that
// reaches it has its text start on the next line), wrapped before column 80.
std::string helpEntries(std::span<const HelpEntry> entries, std::size_t column);

}  // namespace cli
