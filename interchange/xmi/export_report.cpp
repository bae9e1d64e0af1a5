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
  out << "\nwrote " << elementCountText(written) << ":\n";
  writeReportLines(out, written);
  if (left.empty()) {
    out << "left out nothing\n";
    return out.str();
  }
  out << "left out:\n";
  writeReportLines(out, left, leftBeyond);
  return out.str();
}

}  // namespace model::xmi
