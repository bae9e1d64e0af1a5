#pragma once

#include "admin/table_rows.h"

namespace qovix::admin {

// A PostgreSQL repository (a --store value); with `create`, the schema is
// made in an empty database.
std::unique_ptr<RepositoryTables> openPostgresTables(const std::string& store, bool create);

}  // namespace qovix::admin
