#pragma once

// The shared repository's schema in PostgreSQL: made in an empty database,
// checked in one that has tables before anything is written to it.

#include "store/pg_connection.h"
#include "store/store_options.h"

// The schema version this build reads and writes (qovix_repository.schema_version).
inline constexpr int kPostgresSchemaVersion = 4;
// What qovix_repository.application holds in a repository of ours.
inline constexpr const char* kPostgresApplication = "QOVIX repository";

// Checks that the database is a repository of a schema this build reads
// (or has no tables, and then makes the schema), and writes the model's
// names. Several servers may open one database at once: one makes the
// schema, the others wait for it. Throws StoreError, leaving a database
// that is not ours untouched.
void preparePostgresRepository(PgConnection& connection, const StoreOptions& options);

// A query that answers one row for each way the current schema's tables
// differ from what this build makes (a table missing, or a view, foreign
// table or other relation in its place; a trigger or rule on one), saying
// how; none when they do not. Whatever reads a repository's rows asks it
// first: a view or a rule runs whatever it says.
const char* postgresShapeFaults();
