#include "store/open_store.h"

#include "store/postgres_store.h"
#include "store/sqlite_store.h"

StoreKind storeKindOf(const std::string& name) {
  if (name == kMemoryStore) return StoreKind::Memory;
  if (namesPostgres(name)) return StoreKind::Postgres;
  return StoreKind::File;
}

std::unique_ptr<PersistentStore> openStore(const std::string& name, const StoreOptions& options) {
  switch (storeKindOf(name)) {
    case StoreKind::Memory:
      return makeMemoryStore(options);
    case StoreKind::Postgres:
      return openPostgresStore(name, options);
    case StoreKind::File:
      break;
  }
  return openSqliteStore(name, options);
}
