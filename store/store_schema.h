#pragma once

// The repository file's schema: made in a new file, checked in an existing
// one before anything is written to it.

#include <cstdint>
#include <string>

#include "store/database.h"
#include "store/store_options.h"

// The schema version this build reads and writes (PRAGMA user_version).
inline constexpr int kStoreSchemaVersion = 8;
// Marks the file as a QOVIX repository (PRAGMA application_id): "QVXR".
inline constexpr std::int32_t kStoreApplicationId = 0x51565852;

// Checks that the file is a repository of a schema this build reads (or
// empty, and then makes the schema), and writes the model's names. Throws StoreError, leaving a
// file that is not ours untouched.
void prepareRepositoryFile(Database& database, const StoreOptions& options);

// How the file's schema differs from the one this build makes, at the
// current version: each table an ordinary table of the same columns, each
// index on the same columns of the same table, and no trigger. "" when it
// does not. Whatever reads a file's rows checks this first: a table that is
// a view, or a trigger, runs whatever it says, and may never end.
std::string repositoryShapeFault(Database& database);
