#pragma once

// What an export says it wrote: the document's format, the elements it
// wrote by metaclass, and what the package holds that it did not write, or
// a reference it left out, each kind a line with why, within bounds.

#include <map>
#include <string>

namespace model::xmi {

struct ExportReport {
  std::string format;                  // "XMI 2.5.1, UML 2.5.1"
  std::map<std::string, int> written;  // elements by the document's metaclass
  std::map<std::string, int> left;     // "WHAT: WHY" -> how many, kMostSkippedLines at most
  int leftBeyond = 0;
  // Counts `count` of the package's objects or references not written.
  void leave(const std::string& what, const std::string& why, int count = 1);
  std::string text() const;
};

}  // namespace model::xmi
