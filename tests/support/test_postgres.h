#pragma once

// The PostgreSQL server the test command starts (ctest's postgres fixture):
// QOVIX_TEST_POSTGRES holds the libpq conninfo that reaches it.

#include <optional>
#include <string>

// The conninfo, when the server is there.
std::optional<std::string> testPostgres();
// A new, empty database there, or on the server `server` (a conninfo)
// reaches, as qovixd's --store names it ("postgresql:... dbname=NAME").
// Throws std::runtime_error.
std::string freshPostgresDatabase();
std::string freshPostgresDatabase(const std::string& server);
// Runs `sql` in the database a --store value names; its first row's first
// column, or "" for none. Throws std::runtime_error.
std::string postgresAnswer(const std::string& store, const std::string& sql);
