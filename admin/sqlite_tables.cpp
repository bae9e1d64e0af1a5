// The tables of a repository file (SQLite).

#include "admin/sqlite_tables.h"

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>

#include "store/database.h"
#include "store/file_lock.h"
#include "store/sqlite_store.h"
#include "store/store_schema.h"
#include "utf/utf.h"

namespace qovix::admin {

namespace {

std::string columnSql(const Column& column) {
  return column.kind == ColumnKind::Time ? "time_us" : column.name;
}

std::string columnList(const Table& table) {
  std::string list;
  for (const Column& column : table.columns) {
    if (!list.empty()) list += ", ";
    list += columnSql(column);
  }
  return list;
}

class SqliteTables final : public RepositoryTables {
 public:
  SqliteTables(const std::filesystem::path& path, bool writing)
      : path_(path),
        lock_(writing ? std::make_unique<FileLock>(path) : nullptr),
        database_(path, false) {
    database_.execute("PRAGMA busy_timeout = 5000");
  }

  std::string describe() const override { return "the repository file '" + path_.string() + "'"; }

  int schemaVersion() override {
    const auto answer = query("PRAGMA user_version");
    const auto application = query("PRAGMA application_id");
    if (application.empty() || application[0][0] != std::to_string(kStoreApplicationId)) {
      throw std::runtime_error(describe() + " is not a QOVIX repository");
    }
    return answer.empty() ? 0 : std::stoi(answer[0][0]);
  }
  int expectedSchemaVersion() const override { return kStoreSchemaVersion; }
  std::string shapeFault() override { return repositoryShapeFault(database_); }

  // One read transaction: a snapshot, which holds up no writer.
  void beginReading() override {
    database_.execute("BEGIN");
    query("SELECT count(*) FROM object_number");
  }
  void endReading() override { database_.execute("COMMIT"); }

  void scan(const Table& table, const std::function<void(const Row&)>& each) override {
    Statement rows(
        database_,
        ("SELECT " + columnList(table) + " FROM " + table.name + " ORDER BY " + table.key).c_str());
    Row row(table.columns.size());
    while (rows.step()) {
      for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const int at = static_cast<int>(i);
        switch (table.columns[i].kind) {
          case ColumnKind::Integer:
          case ColumnKind::Time:
            row[i] = rows.integer(at);
            break;
          case ColumnKind::ModelText:
            row[i] = rows.text(at);
            break;
          case ColumnKind::Name:
            row[i] = utf::toUtf8(rows.text(at));
            break;
          case ColumnKind::Bytes: {
            std::string bytes = rows.bytes(at);
            if (bytes.empty()) {
              row[i] = std::monostate{};
            } else {
              row[i] = std::move(bytes);
            }
            break;
          }
        }
      }
      each(row);
    }
  }

  const char* commitMicros() const override { return "time_us"; }

  Counters counters() override {
    const auto answer = query(
        "SELECT max((SELECT coalesce(max(next), 1) FROM object_number), "
        "(SELECT coalesce(max(id), 0) + 1 FROM object))");
    return {answer.empty() ? 1 : std::stoll(answer[0][0])};
  }

  std::vector<std::vector<std::string>> query(const std::string& sql) override {
    sqlite3_stmt* statement = nullptr;
    int code = sqlite3_prepare_v2(database_.get(), sql.c_str(), -1, &statement, nullptr);
    if (code != SQLITE_OK) database_.fail(code, sql);
    std::vector<std::vector<std::string>> rows;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
      auto& row = rows.emplace_back();
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = sqlite3_column_text(statement, i);
        row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
      }
    }
    sqlite3_finalize(statement);
    if (code != SQLITE_DONE) database_.fail(code, sql);
    return rows;
  }

  void beginWriting() override { database_.execute("BEGIN IMMEDIATE"); }

  class SqliteLoader final : public Loader {
   public:
    SqliteLoader(Database& database, const Table& table) : table_(table), insert_(nullptr) {
      database.execute(("DELETE FROM " + std::string(table.name)).c_str());
      std::string marks;
      for (std::size_t i = 1; i <= table.columns.size(); ++i) {
        marks += (i > 1 ? ", ?" : "?") + std::to_string(i);
      }
      insert_ =
          std::make_unique<Statement>(database, ("INSERT INTO " + std::string(table.name) + " (" +
                                                 columnList(table) + ") VALUES (" + marks + ")")
                                                    .c_str());
    }
    void add(const Row& row) override {
      const Use use(*insert_);
      for (std::size_t i = 0; i < table_.columns.size(); ++i) {
        const int at = static_cast<int>(i) + 1;
        if (const auto* number = std::get_if<std::int64_t>(&row[i])) {
          use->bind(at, *number);
        } else if (const auto* text = std::get_if<std::u16string>(&row[i])) {
          use->bind(at, *text);
        } else if (const auto* bytes = std::get_if<std::string>(&row[i])) {
          if (table_.columns[i].kind == ColumnKind::Name) {
            use->bind(at, utf::toUtf16(*bytes));
          } else {
            use->bindBytes(at, *bytes);
          }
        } else {
          use->bindBytes(at, {});  // NULL
        }
      }
      use->run();
    }
    void finish() override {}

   private:
    const Table& table_;
    std::unique_ptr<Statement> insert_;
  };

  std::unique_ptr<Loader> load(const Table& table) override {
    return std::make_unique<SqliteLoader>(database_, table);
  }

  void setCounters(const Counters& counters, std::int64_t, std::int64_t) override {
    database_.execute(("DELETE FROM object_number; INSERT INTO object_number VALUES (" +
                       std::to_string(counters.nextNumber) + ")")
                          .c_str());
  }

  void commit() override { database_.execute("COMMIT"); }
  void rollback() override {
    if (sqlite3_get_autocommit(database_.get()) == 0) database_.execute("ROLLBACK");
  }

  std::vector<std::string> engineCheck(std::string&) override {
    std::vector<std::string> found;
    for (const auto& row : query("PRAGMA integrity_check")) {
      if (!row.empty() && row[0] != "ok") found.push_back("SQLite's integrity check: " + row[0]);
    }
    return found;
  }

 private:
  std::filesystem::path path_;
  std::unique_ptr<FileLock> lock_;  // a file being written is no server's
  Database database_;
};

}  // namespace

std::unique_ptr<RepositoryTables> openSqliteTables(const std::string& path, bool create) {
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  if (!exists && !create) throw std::runtime_error("there is no repository file '" + path + "'");
  if (!exists) openSqliteStore(path);  // an empty repository, of this schema
  return std::make_unique<SqliteTables>(path, create);
}

}  // namespace qovix::admin
