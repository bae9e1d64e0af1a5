#pragma once

#include "admin/table_rows.h"

namespace qovix::admin {

// A repository file; with `create`, made when missing, and held against
// servers while it is open.
std::unique_ptr<RepositoryTables> openSqliteTables(const std::string& path, bool create);

}  // namespace qovix::admin
