#pragma once

// Writes a package as a UML 2.5.1 model in XMI 2.5.1, as today's UML tools
// read it: the class-model subset (packages, classes, interfaces, data
// types, enumerations with their literals, attributes, operations with their
// parameters, associations with their ends, generalizations, realizations,
// dependencies, usages, comments, use cases and actors), under the
// metamodel's own names. Every element has an xmi:id (o and its object
// number), and every reference names an element of the document: what the
// package refers to outside itself is left out. What the subset lacks
// (state machines, collaborations, the QOVIX extension) is not written.
// docs/server.md gives the mapping, the reverse of the reading's.

#include <string>
#include <vector>

#include "store/persistent_store.h"

namespace model::xmi {

// The document for `objects`, the package first and then everything it
// contains. Throws std::invalid_argument for text XML cannot carry, and
// std::runtime_error past the document bound.
std::string writeUml25(const PersistentStore& store, const std::vector<ObjectId>& objects);

}  // namespace model::xmi
