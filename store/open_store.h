#pragma once

// Which store a store's name says, and the store it opens: the one place
// qovixd and qovix-store tell the stores apart. A new store is its files
// here, one kind and one branch below, and one entry in the store contract
// test.

#include <memory>
#include <string>

#include "store/persistent_store.h"
#include "store/store_options.h"

// The name of the store kept in memory alone.
inline constexpr const char* kMemoryStore = "memory";

enum class StoreKind { Memory, Postgres, File };

// "memory"; a PostgreSQL URI or conninfo ("postgresql://…", "postgresql:…");
// else a repository file's path.
StoreKind storeKindOf(const std::string& name);

// The store `name` names, with `options`. Throws StoreError when it cannot
// be opened.
std::unique_ptr<PersistentStore> openStore(const std::string& name, const StoreOptions& options);
