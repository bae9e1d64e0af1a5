#pragma once

// A repository's tables as qovix-store reads and writes them, the same in
// both databases: each table's columns by what they hold, not by how an
// engine spells them. A model text is UTF-16 (the file's TEXT; PostgreSQL's
// text with its raw column), a name is UTF-8, a time is microseconds since
// the Unix epoch, bytes are a BLOB or bytea.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace qovix::admin {

enum class ColumnKind { Integer, ModelText, Name, Time, Bytes };

struct Column {
  const char* name;
  ColumnKind kind;
};

struct Table {
  const char* name;
  std::vector<Column> columns;
  const char* key;  // the columns rows are read in order of
};

// Every table whose rows a copy carries, in the order they are written.
const std::vector<Table>& repositoryTables();

// One cell: SQL NULL, a number, a model text, or a name or bytes.
using Cell = std::variant<std::monostate, std::int64_t, std::u16string, std::string>;
using Row = std::vector<Cell>;

// What a store holds besides its rows: the next object number.
struct Counters {
  std::int64_t nextNumber = 1;
};

// A repository in a database, read and written table by table. Reading
// happens in one snapshot, begun by beginReading; writing in one
// transaction, which commit() keeps and nothing else does.
class RepositoryTables {
 public:
  virtual ~RepositoryTables() = default;
  virtual std::string describe() const = 0;
  virtual int schemaVersion() = 0;
  virtual int expectedSchemaVersion() const = 0;
  // How the tables of a store of the expected version differ from the ones
  // qovixd makes (a view in a table's place, a trigger); "" when they do
  // not. Nothing reads a store's rows before it has asked: a view may run
  // whatever it says, and never end.
  virtual std::string shapeFault() = 0;

  virtual void beginReading() = 0;
  virtual void endReading() = 0;
  // Calls `each` with every row of `table`, in key order, a batch at a time.
  virtual void scan(const Table& table, const std::function<void(const Row&)>& each) = 0;
  virtual Counters counters() = 0;
  // A commit_log row's time, as an expression of microseconds.
  virtual const char* commitMicros() const = 0;
  // A question, as both engines spell it; each cell as text ("" for NULL).
  virtual std::vector<std::vector<std::string>> query(const std::string& sql) = 0;

  virtual void beginWriting() = 0;
  // Empties `table`, then takes its rows one at a time; finish() sends what
  // is left. Rows go in within the transaction begun.
  class Loader {
   public:
    virtual ~Loader() = default;
    virtual void add(const Row& row) = 0;
    virtual void finish() = 0;
  };
  virtual std::unique_ptr<Loader> load(const Table& table) = 0;
  virtual void setCounters(const Counters& counters, std::int64_t lastCommit,
                           std::int64_t objectCount) = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;

  // Whatever the engine itself says is damaged (its index checks); empty
  // when nothing. `skipped` says what could not be checked, if anything.
  virtual std::vector<std::string> engineCheck(std::string& skipped) = 0;
};

}  // namespace qovix::admin
