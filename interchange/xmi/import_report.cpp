#include "interchange/xmi/import_report.h"

#include <sstream>

namespace model::xmi {

void countReportLine(std::map<std::string, int>& lines, int& beyond, const std::string& what,
                     const std::string& why, int count) {
  // A name from the document may be long: it is cut, where no character is.
  constexpr std::size_t kMostWhatBytes = 120;
  std::string line = what;
  if (line.size() > kMostWhatBytes) {
    std::size_t cut = kMostWhatBytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
    line += "...";
  }
  line.append(": ").append(why);
  if (const auto found = lines.find(line); found != lines.end()) {
    found->second += count;
  } else if (lines.size() < kMostSkippedLines) {
    lines.emplace(std::move(line), count);
  } else {
    beyond += count;
  }
}

void writeReportLines(std::ostream& out, const std::map<std::string, int>& lines, int beyond) {
  for (const auto& [what, count] : lines) out << "  " << count << ' ' << what << '\n';
  if (beyond > 0)
    out << "  " << beyond << " more, of kinds past the " << kMostSkippedLines << " listed\n";
}

std::string elementCountText(const std::map<std::string, int>& lines) {
  int total = 0;
  for (const auto& [what, count] : lines) total += count;
  return std::to_string(total).append(total == 1 ? " element" : " elements");
}

void ImportReport::skip(const std::string& what, const std::string& why, int count) {
  countReportLine(skipped, skippedBeyond, what, why, count);
}

void ImportReport::deviate(const std::string& what, const std::string& how, int count) {
  countReportLine(deviations, deviationsBeyond, what, how, count);
}

std::string ImportReport::text() const {
  std::ostringstream out;
  out << (translatedFrom.empty() ? format : translatedFrom + " (read as UML 1.4)");
  if (!exporter.empty()) out << ", written by " << exporter;
  if (!archiveEntry.empty()) out << ", read from the archive's entry '" << archiveEntry << "'";
  out << "\nthe document holds " << elementCountText(held) << ": " << readAsObjects
      << " read as objects, " << readInto << " read into others, " << skippedElements << " skipped";
  out << "\nimported " << elementCountText(imported) << ":\n";
  writeReportLines(out, imported);
  if (!deviations.empty()) {
    out << "read despite deviations from the standard:\n";
    writeReportLines(out, deviations, deviationsBeyond);
  }
  if (skipped.empty()) {
    out << "skipped nothing\n";
    return out.str();
  }
  out << "skipped:\n";
  writeReportLines(out, skipped, skippedBeyond);
  return out.str();
}

}  // namespace model::xmi
