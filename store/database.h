#pragma once

// A thin owner of an SQLite connection and its prepared statements: every
// failure becomes a StoreError that names the file and says what SQLite
// said.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "store/persistent_store.h"

class Database {
 public:
  // Opens (or, with `create`, makes) the file; throws StoreError.
  Database(const std::filesystem::path& path, bool create);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* get() const { return db_; }
  const std::filesystem::path& path() const { return path_; }
  // Runs statements that answer no rows.
  void execute(const char* sql);
  // Throws the StoreError for SQLite's result `code`, saying what was being done.
  [[noreturn]] void fail(int code, std::string_view doing) const;

 private:
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
};

// One prepared statement, kept for the life of the connection.
class Statement {
 public:
  Statement(Database& database, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1.
  Statement& bind(int index, std::int64_t number);
  Statement& bind(int index, std::u16string_view text);
  // A blob; empty bytes are bound as NULL.
  Statement& bindBytes(int index, std::string_view bytes);
  // Steps once: true with a row to read, false when done. Throws StoreError.
  bool step();
  // Steps to the end; for statements that answer no rows.
  void run();
  std::int64_t integer(int column) const;
  std::u16string text(int column) const;
  // A blob's bytes; empty for NULL.
  std::string bytes(int column) const;
  // Ready for the next use, its parameters cleared.
  void reset();

 private:
  Database& database_;
  sqlite3_stmt* statement_ = nullptr;
};

// One use of a statement: reset when the use ends, however it ends.
class Use {
 public:
  explicit Use(Statement& statement) : statement_(statement) {}
  ~Use() { statement_.reset(); }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  Statement* operator->() const { return &statement_; }
  Statement& statement() const { return statement_; }

 private:
  Statement& statement_;
};
