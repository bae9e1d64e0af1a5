#include "interchange/xmi/export_report.h"

#include <sstream>

#include "interchange/xmi/import_report.h"

namespace model::xmi {

void ExportReport::leave(const std::string& what, const std::string& why, int count) {
  countReportLine(left, leftBeyond, what, why, count);
}

std::string ExportReport::text() const {
  std::ostringstream out;
  out << format;
  int total = 0;
  for (const auto& [what, count] : written) total += count;
  out << "\nwrote " << total << (total == 1 ? " element" : " elements") << ":\n";
  for (const auto& [what, count] : written) out << "  " << count << ' ' << what << '\n';
  if (left.empty()) {
    out << "left out nothing\n";
    return out.str();
  }
  out << "left out:\n";
  for (const auto& [what, count] : left) out << "  " << count << ' ' << what << '\n';
  if (leftBeyond > 0) {
    out << "  " << leftBeyond << " more, of kinds past the " << kMostSkippedLines << " listed\n";
  }
  return out.str();
}

}  // namespace model::xmi
