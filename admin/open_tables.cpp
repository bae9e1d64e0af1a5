#include "admin/open_tables.h"

#include "admin/postgres_tables.h"
#include "admin/sqlite_tables.h"
#include "store/open_store.h"

namespace qovix::admin {

// qovix-store reads and writes a store's rows, not its objects: each kind
// of store that keeps rows has its tables.
std::unique_ptr<RepositoryTables> openTables(const std::string& store, bool create) {
  switch (storeKindOf(store)) {
    case StoreKind::Memory:
      throw StoreError("'" + store + "' is the store qovixd keeps in memory alone: there is "
                       "nothing of it to read");
    case StoreKind::Postgres:
      return openPostgresTables(store, create);
    case StoreKind::File:
      break;
  }
  return openSqliteTables(store, create);
}

}  // namespace qovix::admin
