#pragma once

// The repository in one SQLite database file: durable, indexed, and
// readable with the sqlite3 tool (docs/store.md gives its schema).
//
// The file is the truth. What the store has read stays in a cache in front
// of it, written through on every change and dropped for the objects a
// rolled-back transaction touched. Each commit() is one SQLite transaction
// in WAL mode: with Sync::Normal it survives the process being killed at
// any moment, with Sync::Full also the machine losing power (the log is
// flushed to the disk before commit() returns).
//
// One process serves a file at a time, and has it to itself: a second
// store on the same file is refused, and other programs (the sqlite3 tool)
// read it once the store is closed. So the cache is never out of date; a
// store whose data others change would drop it (dropCache) on their word.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "store/store_options.h"
#include "store/persistent_store.h"

using SqliteStoreOptions = StoreOptions;

// Opens the repository file at `path`, creating it when it is missing.
// Throws StoreError when the file is not a repository, is of a newer
// schema, is damaged, or is in use by another process; such a file is left
// as it was.
std::unique_ptr<PersistentStore> openSqliteStore(const std::filesystem::path& path,
                                                 const SqliteStoreOptions& options = {});

// Removes a repository file and the files SQLite keeps beside it (its log,
// the log's index, a rollback journal), ignoring those that are not there:
// what a tool or a server that made a new file and then failed leaves
// behind it.
void removeRepositoryFile(const std::filesystem::path& path);
