#include "store/database.h"

#include <new>

namespace {

// SQLite counts every allocation it makes under a process-wide lock unless
// told not to; nothing here reads those counts. Set before SQLite starts
// (it refuses once started, which changes nothing).
void leaveOutMemoryCounts() {
  static const bool once = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)once;
}

}  // namespace

Database::Database(const std::filesystem::path& path, bool create) : path_(path) {
  leaveOutMemoryCounts();
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                    SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
  // SQLite's own locking: a server's connections (the writer and its
  // checkpointer) share the file with readers in other processes, such as
  // the sqlite3 tool or an online backup, which read a snapshot of it and
  // hold up no writer. The file lock keeps other servers out.
  const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (code != SQLITE_OK) {
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError("cannot open the repository file '" + path.string() + "': " + message);
  }
  sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() {
  behind_.reset();
  sqlite3_close_v2(db_);
}

void Database::execute(const char* sql) {
  settle();
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) fail(code, sql);
}

void Database::fail(int code, std::string_view doing) const {
  std::string what = "the repository file '" + path_.string() + "'";
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      // Other servers are kept out by the file's lock: what holds it is a
      // program that has the file open, or a lock qovixd's own checkpoint
      // held past every bound.
      what +=
          " is locked by another connection to it (a program that has it open) longer "
          "than qovixd waits";
      break;
    case SQLITE_NOTADB:
      what += " is not a repository (not an SQLite database)";
      break;
    case SQLITE_CORRUPT:
      what += " is damaged";
      break;
    case SQLITE_FULL:
      what += ": the disk is full";
      break;
    default:
      what += ": " + std::string(sqlite3_errstr(code));
      break;
  }
  const char* detail = sqlite3_errmsg(db_);
  if (detail != nullptr && std::string_view(detail) != sqlite3_errstr(code)) {
    what += std::string(" (") + detail + ")";
  }
  throw StoreError(what + ", while " + std::string(doing.substr(0, 80)));
}

Statement::Statement(Database& database, const char* sql) : database_(database) {
  database.settle();
  const int code =
      sqlite3_prepare_v3(database.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
  if (code != SQLITE_OK) database.fail(code, sql);
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::bind(int index, std::int64_t number) {
  database_.settle();
  const int code = sqlite3_bind_int64(statement_, index, number);
  if (code != SQLITE_OK) database_.fail(code, sqlite3_sql(statement_));
  return *this;
}

Statement& Statement::bind(int index, std::u16string_view text) {
  database_.settle();
  // Bytes, not characters: text16 takes its length in bytes. Empty text is
  // bound as empty text, never as NULL.
  static const char16_t empty = 0;
  const int code =
      sqlite3_bind_text16(statement_, index, text.empty() ? &empty : text.data(),
                          static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
  if (code != SQLITE_OK) database_.fail(code, sqlite3_sql(statement_));
  return *this;
}

bool Statement::step() {
  database_.settle();
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  database_.fail(code, sqlite3_sql(statement_));
}

void Statement::run() {
  while (step()) {
  }
}

Statement& Statement::bindBytes(int index, std::string_view bytes) {
  database_.settle();
  // Empty bytes are SQL NULL: the history keeps an empty list so.
  const int code = bytes.empty() ? sqlite3_bind_null(statement_, index)
                                 : sqlite3_bind_blob64(statement_, index, bytes.data(),
                                                       bytes.size(), SQLITE_TRANSIENT);
  if (code != SQLITE_OK) database_.fail(code, sqlite3_sql(statement_));
  return *this;
}

std::string Statement::bytes(int column) const {
  database_.waitWritten();
  const void* data = sqlite3_column_blob(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  if (data == nullptr && size > 0) throw std::bad_alloc();
  return data != nullptr
             ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
             : std::string();
}

std::int64_t Statement::integer(int column) const {
  database_.waitWritten();
  return sqlite3_column_int64(statement_, column);
}

std::u16string Statement::text(int column) const {
  database_.waitWritten();
  const auto* units = static_cast<const char16_t*>(sqlite3_column_text16(statement_, column));
  if (units == nullptr && sqlite3_column_type(statement_, column) != SQLITE_NULL) {
    throw std::bad_alloc();  // SQLite could not convert the text
  }
  const int bytes = sqlite3_column_bytes16(statement_, column);
  return units != nullptr ? std::u16string(units, static_cast<std::size_t>(bytes) / 2)
                          : std::u16string();
}

void Statement::reset() {
  database_.waitWritten();
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}
