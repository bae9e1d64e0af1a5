#pragma once

// The tables of the store a --store value names, whichever kind of store
// keeps them (store/open_store.h tells them apart).

#include <memory>
#include <string>

#include "admin/table_rows.h"

namespace qovix::admin {

// Opens a repository file or a PostgreSQL database (a --store value).
// `create`: make the repository (an empty one) when there is none. Throws
// std::runtime_error saying why it cannot.
std::unique_ptr<RepositoryTables> openTables(const std::string& store, bool create);

}  // namespace qovix::admin
