#include "cli/help_text.h"

#include <sstream>
#include <vector>

namespace cli {
namespace {

constexpr std::size_t kWidth = 80;

std::vector<std::string> wrap(const std::string& text, std::size_t width) {
  std::vector<std::string> lines(1);
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width)
      lines.emplace_back();
    if (!lines.back().empty()) lines.back() += ' ';
    lines.back() += word;
  }
  return lines;
}

}  // namespace

std::string helpEntries(std::span<const HelpEntry> entries, std::size_t column) {
  const std::string indent(column, ' ');
  std::string out;
  for (const HelpEntry& entry : entries) {
    std::string first = "  " + entry.left;
    if (first.size() + 1 >= column) {
      out += first + "\n";
      first = indent;
    } else {
      first.resize(column, ' ');
    }
    const std::vector<std::string> lines = wrap(entry.text, kWidth - column);
    for (std::size_t i = 0; i < lines.size(); ++i)
      out += (i == 0 ? first : indent) + lines[i] + "\n";
  }
  return out;
}

}  // namespace cli
