#pragma once

// Text tables for people: columns as wide as their widest cell (counted in
// characters, not bytes), two spaces apart, the last one unpadded.

#include <ostream>
#include <string>
#include <vector>

namespace qovix::tool {

using TableRow = std::vector<std::string>;

void printTable(const std::vector<TableRow>& rows, std::ostream& out);

}  // namespace qovix::tool
