// The tables of a PostgreSQL repository, read through a cursor and written
// with COPY, over a libpq connection of its own.

#include "admin/postgres_tables.h"

#include <libpq-fe.h>

#include <cstdio>
#include <stdexcept>

#include "cli/utc_time.h"
#include "store/pg_connection.h"
#include "store/pg_text.h"
#include "store/postgres_schema.h"
#include "store/postgres_store.h"

namespace qovix::admin {

namespace {

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

std::string selectList(const Table& table) {
  std::string list;
  for (const Column& column : table.columns) {
    if (!list.empty()) list += ", ";
    const std::string name = column.name;
    switch (column.kind) {
      case ColumnKind::ModelText:
        list += name + ", raw";
        break;
      case ColumnKind::Time:
        list += "(extract(epoch FROM time) * 1000000)::bigint";
        break;
      default:
        list += '"' + name + '"';
    }
  }
  return list;
}

std::string copyList(const Table& table) {
  std::string list;
  for (const Column& column : table.columns) {
    if (!list.empty()) list += ", ";
    list += '"' + std::string(column.name) + '"';
    if (column.kind == ColumnKind::ModelText) list += ", raw";
  }
  return list;
}

// A field of COPY's text format: backslash, tab, newline and return escaped.
void appendField(std::string& line, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '\t':
        line += "\\t";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      default:
        line += c;
    }
  }
}

// A timestamptz to the microsecond, as COPY reads it.
std::string timestampOf(std::int64_t micros) {
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, ".%06lld+00",
                static_cast<long long>((micros % 1'000'000 + 1'000'000) % 1'000'000));
  return cli::utcSeconds(micros) + fraction;
}

class PostgresTables final : public RepositoryTables {
 public:
  explicit PostgresTables(const std::string& store)
      : description_(describePostgres(store)), connection_(nullptr, &PQfinish) {
    const std::string conninfo = conninfoOf(store);
    checkConninfo(conninfo);
    connection_.reset(PQconnectdb(conninfo.c_str()));
    if (PQstatus(connection_.get()) != CONNECTION_OK) {
      throw std::runtime_error("cannot connect to " + description_ + ": " +
                               PQerrorMessage(connection_.get()));
    }
    execute("SET client_encoding = 'UTF8'; SET jit = off; SET application_name = 'qovix-store'");
  }

  std::string describe() const override { return description_; }

  int schemaVersion() override {
    const auto rows = query(
        "SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() "
        "AND tablename = 'qovix_repository'");
    if (rows.empty() || rows[0][0] != "1") {
      throw std::runtime_error(description_ + " is not a QOVIX repository");
    }
    const auto version = query("SELECT schema_version FROM qovix_repository");
    return version.size() == 1 ? std::stoi(version[0][0]) : 0;
  }
  int expectedSchemaVersion() const override { return kPostgresSchemaVersion; }
  std::string shapeFault() override {
    const auto faults = query(postgresShapeFaults());
    return faults.empty() ? "" : faults[0][0];
  }

  void beginReading() override { execute("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }
  void endReading() override { execute("COMMIT"); }

  void scan(const Table& table, const std::function<void(const Row&)>& each) override {
    execute("DECLARE copy_rows NO SCROLL CURSOR FOR SELECT " + selectList(table) + " FROM " +
            table.name + " ORDER BY " + table.key);
    Row row(table.columns.size());
    for (;;) {
      const Result batch = run("FETCH 10000 FROM copy_rows", PGRES_TUPLES_OK);
      const int count = PQntuples(batch.get());
      for (int r = 0; r < count; ++r) {
        int at = 0;
        for (std::size_t i = 0; i < table.columns.size(); ++i, ++at) {
          const bool null = PQgetisnull(batch.get(), r, at) != 0;
          const std::string_view text = PQgetvalue(batch.get(), r, at);
          switch (table.columns[i].kind) {
            case ColumnKind::Integer:
            case ColumnKind::Time:
              row[i] = std::stoll(std::string(text));
              break;
            case ColumnKind::Name:
              row[i] = std::string(text);
              break;
            case ColumnKind::ModelText: {
              ++at;
              const std::string_view raw = PQgetvalue(batch.get(), r, at);
              row[i] = fromPg(text, PQgetisnull(batch.get(), r, at) != 0 ? nullptr : &raw);
              break;
            }
            case ColumnKind::Bytes:
              if (null) {
                row[i] = std::monostate{};
              } else {
                if (!text.starts_with("\\x")) throw std::runtime_error("bytea not in hex form");
                row[i] = bytesOfHex(text.substr(2));
              }
              break;
          }
        }
        each(row);
      }
      if (count == 0) break;
    }
    execute("CLOSE copy_rows");
  }

  const char* commitMicros() const override {
    return "(extract(epoch FROM time) * 1000000)::bigint";
  }

  Counters counters() override {
    const auto rows = query("SELECT next_number FROM commit_state");
    return {rows.empty() ? 1 : std::stoll(rows[0][0])};
  }

  std::vector<std::vector<std::string>> query(const std::string& sql) override {
    const Result result = run(sql, PGRES_TUPLES_OK);
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
      auto& row = rows.emplace_back();
      for (int c = 0; c < PQnfields(result.get()); ++c)
        row.emplace_back(PQgetvalue(result.get(), r, c));
    }
    return rows;
  }

  void beginWriting() override { execute("BEGIN"); }

  class CopyLoader final : public Loader {
   public:
    CopyLoader(PostgresTables& tables, const Table& table) : tables_(tables), table_(table) {
      tables_.execute("DELETE FROM " + std::string(table.name));
      tables_.run("COPY " + std::string(table.name) + " (" + copyList(table) + ") FROM STDIN",
                  PGRES_COPY_IN);
    }
    void add(const Row& row) override {
      for (std::size_t i = 0; i < table_.columns.size(); ++i) {
        if (i > 0) line_ += '\t';
        const ColumnKind kind = table_.columns[i].kind;
        if (const auto* number = std::get_if<std::int64_t>(&row[i])) {
          line_ += kind == ColumnKind::Time ? timestampOf(*number) : std::to_string(*number);
        } else if (const auto* text = std::get_if<std::u16string>(&row[i])) {
          const PgText columns = toPg(*text);
          appendField(line_, columns.text);
          line_ += '\t';
          if (columns.exact) {
            line_ += "\\N";
          } else {
            appendField(line_, columns.raw);
          }
        } else if (const auto* bytes = std::get_if<std::string>(&row[i])) {
          if (kind == ColumnKind::Bytes) {
            appendField(line_, "\\x" + hexOf(*bytes));
          } else {
            appendField(line_, *bytes);
          }
        } else {
          line_ += "\\N";
        }
      }
      line_ += '\n';
      if (line_.size() >= (1u << 20)) send();
    }
    void finish() override {
      send();
      if (PQputCopyEnd(tables_.connection_.get(), nullptr) != 1) tables_.fail("ending a copy");
      const Result done(PQgetResult(tables_.connection_.get()), &PQclear);
      if (PQresultStatus(done.get()) != PGRES_COMMAND_OK) tables_.fail("copying rows");
      while (PGresult* more = PQgetResult(tables_.connection_.get())) PQclear(more);
    }

   private:
    void send() {
      if (!line_.empty() && PQputCopyData(tables_.connection_.get(), line_.data(),
                                          static_cast<int>(line_.size())) != 1) {
        tables_.fail("copying rows");
      }
      line_.clear();
    }
    PostgresTables& tables_;
    const Table& table_;
    std::string line_;
  };

  std::unique_ptr<Loader> load(const Table& table) override {
    return std::make_unique<CopyLoader>(*this, table);
  }

  void setCounters(const Counters& counters, std::int64_t lastCommit,
                   std::int64_t objectCount) override {
    execute("UPDATE commit_state SET sequence = " + std::to_string(lastCommit) +
            ", next_number = " + std::to_string(counters.nextNumber) +
            ", object_count = " + std::to_string(objectCount));
  }

  void commit() override { execute("COMMIT"); }
  void rollback() override {
    // Only a transaction that is open: a ROLLBACK outside one has the
    // server print a warning the user cannot act on.
    if (PQtransactionStatus(connection_.get()) == PQTRANS_IDLE) return;
    PQclear(PQexec(connection_.get(), "ROLLBACK"));
  }

  // PostgreSQL's B-tree checks (amcheck), where the extension is there or
  // may be made.
  std::vector<std::string> engineCheck(std::string& skipped) override {
    std::vector<std::string> found;
    PQclear(PQexec(connection_.get(), "CREATE EXTENSION IF NOT EXISTS amcheck"));
    const auto present = query("SELECT count(*) FROM pg_extension WHERE extname = 'amcheck'");
    if (present.empty() || present[0][0] == "0") {
      skipped = "the indexes were not checked: PostgreSQL's amcheck extension is not installed";
      return found;
    }
    // Each index goes to the check by its number, as a parameter: its name
    // is whatever the role that made it chose, and never becomes SQL.
    for (const auto& index :
         query("SELECT c.oid, c.relname FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
               "JOIN pg_am a ON a.oid = c.relam JOIN pg_namespace n ON n.oid = c.relnamespace "
               "WHERE a.amname = 'btree' AND n.nspname = current_schema() ORDER BY 2")) {
      const char* values[] = {index[0].c_str()};
      const Result checked(PQexecParams(connection_.get(),
                                        "SELECT bt_index_check($1::oid::regclass, true)", 1,
                                        nullptr, values, nullptr, nullptr, 0),
                           &PQclear);
      if (PQresultStatus(checked.get()) != PGRES_TUPLES_OK) {
        found.push_back("index " + index[1] + ": " + PQresultErrorMessage(checked.get()));
      }
    }
    return found;
  }

 private:
  void execute(const std::string& sql) { run(sql, PGRES_COMMAND_OK); }

  Result run(const std::string& sql, ExecStatusType wanted) {
    Result result(PQexec(connection_.get(), sql.c_str()), &PQclear);
    if (PQresultStatus(result.get()) != wanted) {
      throw std::runtime_error(description_ + ": " + PQresultErrorMessage(result.get()));
    }
    return result;
  }

  [[noreturn]] void fail(const char* doing) {
    throw std::runtime_error(description_ + ": " + doing + ": " +
                             PQerrorMessage(connection_.get()));
  }

  std::string description_;
  std::unique_ptr<PGconn, void (*)(PGconn*)> connection_;
};

}  // namespace

std::unique_ptr<RepositoryTables> openPostgresTables(const std::string& store, bool create) {
  if (create) openPostgresStore(store);  // the schema, in an empty database
  return std::make_unique<PostgresTables>(store);
}

}  // namespace qovix::admin
