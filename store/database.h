#pragma once

// A thin owner of an SQLite connection and its prepared statements: every
// failure becomes a StoreError that names the file and says what SQLite
// said.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "store/persistent_store.h"
#include "store/write_behind.h"

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

  // Writes handed to a thread of the connection's own (write_behind.h),
  // from start to stop; else run at once. Every statement of the
  // connection settles first, off that thread.
  void startWritingBehind() { behind_ = std::make_unique<WriteBehind>(); }
  void stopWritingBehind() { behind_.reset(); }
  void writeBehind(std::function<void()> job) {
    if (behind_) {
      behind_->post(std::move(job));
    } else {
      job();
    }
  }
  // What was handed on is written: its failure is thrown.
  void settle() const {
    if (behind_) behind_->settle();
  }
  // What was handed on is written, or failed with the transaction that is
  // being undone.
  void dropWritten() const noexcept {
    if (behind_) behind_->drop();
  }
  void waitWritten() const noexcept {
    if (behind_) behind_->wait();
  }

 private:
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<WriteBehind> behind_;
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
