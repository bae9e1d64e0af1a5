#pragma once

// Writes a package as XMI: UML 1.4 in XMI 1.2 (UML:Class, properties as
// attributes where XMI 1.2 allows), or UML 1.3 in XMI 1.0
// (Foundation.Core.Class, every property an element). Composite features
// nest what they hold; other references are xmi.idref. Features UML 1.3 and
// 1.4 lack go into each object's <XMI.extension xmi.extender="QOVIX">, so
// that other tools read a plain UML model and the reader loses nothing.

#include <string>
#include <vector>

#include "interchange/xmi/export_report.h"
#include "interchange/xmi/xml_writer.h"
#include "store/persistent_store.h"
#include "interchange/xmi/xmi_names.h"

namespace model::xmi {

// Gives `sink` the document for `objects`, the package first and then
// everything it contains, a piece at a time; references to objects outside
// them are not written, and `report` counts them with what was written. Throws
// std::invalid_argument for text XML cannot carry (control characters,
// unpaired surrogates).
void writeXmi(const PersistentStore& store, const std::vector<ObjectId>& objects, Uml uml,
              ExportReport& report, const XmlSink& sink);

}  // namespace model::xmi
