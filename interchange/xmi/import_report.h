#pragma once

// What an import says it read: the document's format and writer, the
// objects it made by class, and what it skipped or read despite a
// deviation, each kind a line, within bounds whatever the document.

#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

namespace model::xmi {

// The most kinds of skipped element an import report lists, each one line;
// what is skipped past them is counted on one more line. So a document of
// any number of unknown names makes a report of a few kilobytes.
inline constexpr std::size_t kMostSkippedLines = 100;

// "an Attribute", "a Class": a metaclass as a report's line names one.
inline std::string withArticle(std::string_view noun) {
  const bool vowel =
      !noun.empty() && std::string_view("AEIOUaeiou").find(noun[0]) != std::string_view::npos;
  return std::string(vowel ? "an " : "a ").append(noun);
}

// Counts `count` under the line "WHAT: WHY" of `lines`, kMostSkippedLines
// kinds at most; past them, into `beyond`. A long `what` is cut.
void countReportLine(std::map<std::string, int>& lines, int& beyond, const std::string& what,
                     const std::string& why, int count);
// Writes `lines`, each "  COUNT WHAT", and then how many are past them.
void writeReportLines(std::ostream& out, const std::map<std::string, int>& lines, int beyond = 0);
// The count of `lines`, as "1 element" or "N elements".
std::string elementCountText(const std::map<std::string, int>& lines);

struct ImportReport {
  std::string format;                   // "XMI 1.2, UML 1.4"
  std::string exporter;                 // the writing tool, when the header names it
  std::string archiveEntry;             // the entry read, when the document was an archive
  std::string translatedFrom;           // "XMI 2.5.1, UML 2" for a UML 2 document
  std::map<std::string, int> imported;  // objects by class
  // The document's elements (its object definitions, not references or
  // values) by metaclass as it names them, and what became of them: each is
  // read as an object, read into another (a realization, a region, a
  // multiplicity's bounds), or skipped; the three add up to them all.
  std::map<std::string, int> held;
  int readAsObjects = 0;
  int readInto = 0;
  int skippedElements = 0;
  std::map<std::string, int> skipped;   // "WHAT: WHY" -> how many, kMostSkippedLines at most
  int skippedBeyond = 0;                // skipped past those lines
  // What the document does against the standard and was read all the same,
  // and how: "WHAT: HOW" -> how many, kMostSkippedLines at most.
  std::map<std::string, int> deviations;
  int deviationsBeyond = 0;
  // Counts `count` skipped as `what` for `why`.
  void skip(const std::string& what, const std::string& why, int count = 1);
  // Counts `count` deviations `what`, read as `how`.
  void deviate(const std::string& what, const std::string& how, int count = 1);
  std::string text() const;
};

}  // namespace model::xmi
