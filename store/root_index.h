#pragma once

// The index of roots (StoreOptions::roots) in a database's rows: the text
// by which a database says which roots it indexes, and the statement,
// SQLite's and PostgreSQL's alike, that finds them anew from the rows.

#include <string>

#include "store/store_options.h"

namespace root_index {

// What root_state holds once the index is built for `roots` ("" for none).
std::string signature(const StoreOptions::Roots& roots);

// Empties root_object and fills it with the objects of `roots`' classes
// that nothing owns, from the indexes by class, by target and by member.
std::string rebuildStatements(const StoreOptions::Roots& roots);

}  // namespace root_index
