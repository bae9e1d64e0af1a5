#include "client/tool/table.h"

#include <algorithm>

namespace qovix::tool {
namespace {

// Characters in UTF-8 text: every byte that does not continue one.
std::size_t widthOf(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

void printTable(const std::vector<TableRow>& rows, std::ostream& out) {
  std::vector<std::size_t> widths;
  for (const TableRow& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i + 1 < row.size(); ++i)
      widths[i] = std::max(widths[i], widthOf(row[i]));
  }
  for (const TableRow& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - widthOf(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

}  // namespace qovix::tool
