#pragma once

// The repository in a PostgreSQL database that any number of servers share
// (docs/store.md gives its schema and how calls stay serializable).
//
// Each call is one transaction. A reading call reads one snapshot
// (REPEATABLE READ, READ ONLY) and waits for no one. A writing call first
// locks the one commit_state row, so writing calls of all servers take
// turns, each seeing every commit before it; its commit advances the
// sequence and adds its commit log row. What a server caches is checked at
// every call's start against the log: what others changed since is dropped.

#include <memory>
#include <string>

#include "store/store_options.h"
#include "store/persistent_store.h"

// Whether `store` (a --store value) names a PostgreSQL database: a
// postgresql:// or postgres:// URI, or "postgresql:" and a conninfo string.
bool namesPostgres(const std::string& store);

// Connects to the database `store` names, making the schema in an empty
// one. Throws StoreError when it cannot be reached, refuses us, holds a
// password in `store`, is not a repository or is of a newer schema; such a
// database is left as it was.
std::unique_ptr<PersistentStore> openPostgresStore(const std::string& store,
                                                   const StoreOptions& options = {});

// What libpq is given for `store`: a URI as it stands, a conninfo string
// without the "postgresql:" before it.
std::string conninfoOf(const std::string& store);

// `store` as it may be shown: without any password.
std::string describePostgres(const std::string& store);
