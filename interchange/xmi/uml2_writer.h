#pragma once

// Writes a package as a UML 2.5.1 model in XMI 2.5.1, as today's UML tools
// read it, under the metamodel's own names: packages, classes, interfaces,
// data types, enumerations with their literals, signals, components, nodes
// and stereotypes with what they own, attributes, operations with their
// parameters, associations with their ends, generalizations, realizations,
// dependencies, usages, comments wherever UML 1.x owns them, use cases and
// actors, and state machines with their states and transitions. Every
// element has an xmi:id (o and its object number), and every reference names
// an element of the document. What the package holds that UML 2.5 has no
// place for here (collaborations, instances, actions, tagged values), and
// each reference the document leaves out, is named in the report with why.
// docs/server.md gives the mapping, the reverse of the reading's.

#include <string>
#include <vector>

#include "interchange/xmi/export_report.h"
#include "interchange/xmi/xml_writer.h"
#include "store/persistent_store.h"

namespace model::xmi {

// Gives `sink` the document for `objects`, the package first and then
// everything it contains, a piece at a time. Throws std::invalid_argument for text XML cannot carry, and
// std::runtime_error past the document bound.
void writeUml25(const PersistentStore& store, const std::vector<ObjectId>& objects,
                ExportReport& report, const XmlSink& sink);

}  // namespace model::xmi
