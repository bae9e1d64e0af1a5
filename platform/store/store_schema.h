#pragma once

// The repository file's schema: made in a new file, checked in an existing
// one before anything is written to it.

#include "platform/store/database.h"
#include "platform/store/sqlite_store.h"

// Checks that the file is a repository of a schema this build reads (or
// empty, and then makes the schema), and writes the model's names. Throws StoreError, leaving a
// file that is not ours untouched.
void prepareRepositoryFile(Database& database, const SqliteStoreOptions& options);
