#include "store/sqlite_store.h"

#include <algorithm>
#include <cstdint>

#include "store/cached_store.h"
#include "store/change_rows.h"
#include "store/database.h"
#include "store/file_lock.h"
#include "store/log_checkpointer.h"
#include "store/root_index.h"
#include "store/row_batches.h"
#include "store/sqlite_name_index.h"
#include "store/store_rows.h"
#include "store/store_schema.h"
#include "utf/utf.h"

namespace {

using Ids = std::vector<ObjectId>;

// The rows in one SQLite file, which this process has to itself: the file
// lock keeps other servers out, so nothing changes the rows but this
// store, and a transaction begins only when something is to be written.
class SqliteRows final : public StoreRows {
 public:
  SqliteRows(const std::filesystem::path& path, const SqliteStoreOptions& options)
      : lock_(path),
        database_(path, true),
        statements_(prepared(database_, options)),
        names_(database_, options.searchedName),
        roots_(options.roots),
        readRoots_(database_, "SELECT object FROM root_object ORDER BY object"),
        addRoot_(database_, "INSERT OR IGNORE INTO root_object (object) VALUES (?1)"),
        dropRoot_(database_, "DELETE FROM root_object WHERE object = ?1"),
        checkpointer_(path, database_.get(), options.sync == SqliteStoreOptions::Sync::Full) {
    indexRoots();
    // The log's size after each commit, in place of SQLite's own hook,
    // which checkpoints inside whichever commit takes the log past 1,000
    // pages: a thread of the checkpointer's does it instead.
    sqlite3_wal_hook(database_.get(), &SqliteRows::logGrew, this);
    database_.startWritingBehind();
  }
  // Nothing handed on outlives the batches and statements it writes with.
  ~SqliteRows() override { database_.stopWritingBehind(); }

  std::string describe() const override {
    return "the repository file '" + database_.path().string() + "'";
  }

  bool shared() const override { return false; }

  RowsState begin(bool) override {
    flushRows();
    Use(statements_.begin)->run();
    return {};
  }

  void commit(ObjectId nextNumber, std::size_t, std::span<const CommitRecord> records) override {
    flushRows();
    // After some errors (a full disk, an I/O error) SQLite undoes the whole
    // transaction by itself: what the calls held is gone, and nothing of
    // what follows may be committed as if it were whole.
    if (sqlite3_get_autocommit(database_.get()) != 0) {
      throw StoreError(describe() + ": its transaction was undone after an error");
    }
    if (nextNumber != nextFiled_) {
      const Use use(statements_.setNextNumber);
      use->bind(1, nextNumber).run();
    }
    for (const CommitRecord& record : records) logCommit(record);
    Use(statements_.commit)->run();
    nextFiled_ = nextNumber;
  }

  void rollback() override {
    discardRows();
    try {
      Use(statements_.rollback)->run();
    } catch (const StoreError&) {
      // a failed commit may have rolled back already; nothing is left to undo
    }
  }

  void mark() override {
    flushRows();
    Use(statements_.mark)->run();
  }
  void rollbackToMark() override {
    discardRows();  // written since the mark, which wrote out what came before
    Use(statements_.rollbackToMark)->run();
    Use(statements_.releaseMark)->run();
  }
  void releaseMark() override { Use(statements_.releaseMark)->run(); }

  // SQLite's data version changes with every commit of another connection
  // (a checkpoint is none).
  bool othersWrote() override {
    const Use use(statements_.dataVersion);
    const std::int64_t version = use->step() ? use->integer(0) : 0;
    const bool changed = version != dataVersion_;
    dataVersion_ = version;
    return changed;
  }

  RowsState current() override {
    flushRows();
    RowsState state;
    {
      const Use use(statements_.countObjects);
      state.objectCount = use->step() ? static_cast<std::size_t>(use->integer(0)) : 0;
    }
    {
      const Use use(statements_.nextNumber);
      nextFiled_ = state.nextNumber = use->step() ? static_cast<ObjectId>(use->integer(0)) : 1;
    }
    const Use use(statements_.lastCommit);
    state.lastCommit = use->step() ? static_cast<std::uint64_t>(use->integer(0)) : 0;
    return state;
  }

  void readObject(ObjectId id, std::vector<ObjectPart>& parts) override {
    flushRows();
    const Use use(statements_.readObject);
    use->bind(1, id);
    while (use->step()) parts.push_back(part(id, use.statement(), 0));
  }

  void readObjects(ObjectId first, ObjectId last, std::vector<ObjectPart>& parts) override {
    flushRows();
    const Use use(statements_.readObjects);
    use->bind(1, first).bind(2, last);
    while (use->step()) {
      parts.push_back(part(static_cast<ObjectId>(use->integer(1)), use.statement(), 1));
    }
  }

  std::vector<std::pair<ObjectId, ObjectId>> readChain(ObjectId id, FeatureId feature) override {
    flushRows();
    std::vector<std::pair<ObjectId, ObjectId>> links;
    const Use use(statements_.readMembers);
    use->bind(1, id).bind(2, feature);
    while (use->step()) {
      links.emplace_back(static_cast<ObjectId>(use->integer(0)),
                         static_cast<ObjectId>(use->integer(1)));
    }
    return links;
  }

  std::vector<StoredValue> readValues(ObjectId id, FeatureId feature) override {
    flushRows();
    std::vector<StoredValue> values;
    const Use use(statements_.readValues);
    use->bind(1, id).bind(2, feature);
    while (use->step()) {
      values.push_back({static_cast<ValueClassId>(use->integer(0)),
                        static_cast<std::int32_t>(use->integer(1)), use->text(2)});
    }
    return values;
  }

  Ids instances(ClassId classId) override {
    flushRows();
    const Use use(statements_.instances);
    use->bind(1, classId);
    return column(use.statement());
  }

  Ids holding(FeatureId feature, const StoredValue& value) override {
    flushRows();
    const Use use(statements_.holding);
    use->bind(1, feature).bind(2, value.text).bind(3, value.number);
    return column(use.statement());
  }

  Ids referring(FeatureId feature, ObjectId target) override {
    flushRows();
    const Use use(statements_.referring);
    use->bind(1, feature).bind(2, target);
    return column(use.statement());
  }

  // The file's indexes answer each question in microseconds.
  bool readIncoming(ObjectId, ObjectId, std::vector<Incoming>&) override { return false; }
  bool readChains(ObjectId, ObjectId, std::size_t, std::vector<Link>&) override { return false; }

  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) override {
    flushRows();
    std::vector<std::pair<FeatureId, ObjectId>> found;
    const Use use(statements_.referencesTo);
    use->bind(1, target);
    while (use->step()) {
      found.emplace_back(static_cast<FeatureId>(use->integer(0)),
                         static_cast<ObjectId>(use->integer(1)));
    }
    return found;
  }

  // Every row and name that waits, written; or forgotten with the transaction.
  void flushRows() {
    batches_.flush();
    names_.flush();
  }
  void discardRows() {
    batches_.discard();
    names_.discard();
  }

  void addObject(ObjectId id, ClassId classId) override { batches_.addObject(id, classId); }

  void removeObject(ObjectId id) override {
    flushRows();
    names_.remove(id);
    for (Statement* remove :
         {&statements_.removeAttributes, &statements_.removeReferences, &statements_.removeMembers,
          &statements_.removeValues, &statements_.removeObject}) {
      const Use use(*remove);
      use->bind(1, id).run();
    }
  }

  void clearAttribute(ObjectId id, FeatureId feature) override {
    flushRows();
    const Use use(statements_.clearAttribute);
    use->bind(1, id).bind(2, feature).run();
    if (feature == names_.searched() && feature != 0) names_.remove(id);
  }

  void setAttribute(ObjectId id, FeatureId feature, const StoredValue& value) override {
    batches_.setAttribute(id, feature, value);
    if (feature == names_.searched() && feature != 0) names_.set(id, value.text);
  }

  Ids namesMatching(name_search::Match match, std::u16string_view folded,
                    std::size_t most) override {
    return names_.matching(match, folded, most);
  }

  StoreOptions::Roots rootsKept() const override { return roots_; }
  Ids readRoots() override {
    const Use use(readRoots_);
    return column(use.statement());
  }
  void writeRoot(ObjectId id, bool root) override {
    const Use use(root ? addRoot_ : dropRoot_);
    use->bind(1, id).run();
  }

  void setReference(ObjectId id, FeatureId feature, ObjectId target) override {
    batches_.setReference(id, feature, target);
  }

  void clearReference(ObjectId id, FeatureId feature) override {
    flushRows();
    const Use use(statements_.clearReference);
    use->bind(1, id).bind(2, feature).run();
  }

  void addMember(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) override {
    batches_.addMember(id, feature, member, next);
  }

  void removeMember(ObjectId id, FeatureId feature, ObjectId member) override {
    flushRows();
    const Use use(statements_.removeMember);
    use->bind(1, id).bind(2, feature).bind(3, member).run();
  }

  void relink(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) override {
    batches_.relink(id, feature, member, next);
  }

  void clearMembers(ObjectId id, FeatureId feature) override {
    flushRows();
    const Use use(statements_.clearMembers);
    use->bind(1, id).bind(2, feature).run();
  }

  void setValues(ObjectId id, FeatureId feature, const std::vector<StoredValue>& values) override {
    flushRows();
    {
      const Use use(statements_.clearValues);
      use->bind(1, id).bind(2, feature).run();
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      const Use use(statements_.addValue);
      use->bind(1, id).bind(2, feature).bind(3, static_cast<std::int64_t>(i));
      use->bind(4, values[i].valueClass).bind(5, values[i].number).bind(6, values[i].text).run();
    }
  }

  std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                         std::size_t mostObjects) override {
    flushRows();
    std::vector<CommitRecord> found;
    {
      const Use use(statements_.commitsSince);
      use->bind(1, static_cast<std::int64_t>(std::min<std::uint64_t>(sequence, INT64_MAX)));
      use->bind(2, static_cast<std::int64_t>(std::min<std::size_t>(most, INT64_MAX)));
      while (use->step()) {
        CommitRecord& record = found.emplace_back();
        record.sequence = static_cast<std::uint64_t>(use->integer(0));
        record.timeMicros = use->integer(1);
        record.principal = utf::toUtf8(use->text(2));
        record.server = utf::toUtf8(use->text(3));
      }
    }
    // A commit's objects are read only while the page has room for them.
    std::size_t objects = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
      readTouched(found[i], 0,
                  i == 0 ? SIZE_MAX : (objects >= mostObjects ? 0 : mostObjects - objects));
      const std::size_t touched = touchedCount(found[i]);
      if (i > 0 && objects + touched > mostObjects) {
        found.resize(i);
        break;
      }
      objects += touched;
    }
    return found;
  }

  std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                      std::size_t most) override {
    flushRows();
    std::vector<std::uint64_t> sequences;
    {
      const Use use(statements_.historyCommits);
      use->bind(1, object);
      use->bind(2, static_cast<std::int64_t>(
                       before == 0 ? INT64_MAX : std::min<std::uint64_t>(before, INT64_MAX)));
      use->bind(3, static_cast<std::int64_t>(std::min<std::size_t>(most, INT64_MAX)));
      while (use->step()) sequences.push_back(static_cast<std::uint64_t>(use->integer(0)));
    }
    std::vector<CommitRecord> found;
    for (std::uint64_t sequence : sequences) {
      if (std::optional<CommitRecord> record = readCommit(sequence, object, SIZE_MAX)) {
        found.push_back(std::move(*record));
      }
    }
    return found;
  }

  std::optional<CommitRecord> commitAt(std::uint64_t sequence, std::size_t mostChanges) override {
    flushRows();
    return readCommit(sequence, 0, mostChanges);
  }

  std::uint64_t nextChangeOf(ObjectId object, std::optional<FeatureId> feature,
                             std::uint64_t after) override {
    flushRows();
    const Use use(statements_.nextChange);
    use->bind(1, object);
    use->bind(2, static_cast<std::int64_t>(std::min<std::uint64_t>(after, INT64_MAX)));
    while (use->step()) {
      const std::string bytes = use->bytes(1);
      const std::string_view kept(bytes);
      if (changesSlot(object, feature, bytes.empty() ? nullptr : &kept)) {
        return static_cast<std::uint64_t>(use->integer(0));
      }
    }
    return 0;
  }

  void forgetHistoryBefore(std::int64_t timeMicros) override {
    flushRows();
    const Use use(statements_.forgetHistory);
    use->bind(1, timeMicros).run();
  }

 private:
  struct Statements {
    Statement readObject, readObjects, readMembers, readValues;
    Statement clearReference, removeMember, clearMembers, clearValues, addValue;
    Statement instances, holding, referring, countObjects;
    Statement nextNumber, setNextNumber, removeAttributes, removeReferences, removeMembers,
        removeValues, removeObject, referencesTo;
    Statement logCommit, commitsSince, commitObjects, lastCommit;
    Statement clearAttribute, historyCommits, commitRow, changesAt, changesOfObjectAt, nextChange,
        forgetHistory, dataVersion;
    Statement begin, commit, rollback, mark, rollbackToMark, releaseMark;
  };

  // Finds the roots anew, in one transaction, when the file indexes other
  // roots or none (a file of an older schema, or a copy).
  void indexRoots() {
    if (!roots_.kept()) return;
    const std::string signature = root_index::signature(roots_);
    {
      Statement state(database_, "SELECT count(*) FROM root_state WHERE roots = ?1");
      state.bind(1, utf::toUtf16(signature));
      if (state.step() && state.integer(0) > 0) return;
    }
    database_.execute("BEGIN IMMEDIATE");
    try {
      database_.execute(root_index::rebuildStatements(roots_).c_str());
      database_.execute("COMMIT");
    } catch (...) {
      database_.execute("ROLLBACK");
      throw;
    }
  }

  static Statements prepared(Database& database, const SqliteStoreOptions& options) {
    prepareRepositoryFile(database, options);
    return Statements{
        // An object whole, one row a part: its class (0), each value (1)
        // and reference (2), and each feature it has members (3) or listed
        // values (4) of, found a step at a time down the primary keys
        // rather than by reading every member.
        {database,
         "WITH RECURSIVE "
         "members_of(feature) AS (SELECT min(feature) FROM member WHERE object = ?1 "
         "  UNION ALL SELECT (SELECT min(feature) FROM member WHERE object = ?1 "
         "  AND feature > members_of.feature) FROM members_of WHERE feature IS NOT NULL), "
         "values_of(feature) AS (SELECT min(feature) FROM value_item WHERE object = ?1 "
         "  UNION ALL SELECT (SELECT min(feature) FROM value_item WHERE object = ?1 "
         "  AND feature > values_of.feature) FROM values_of WHERE feature IS NOT NULL) "
         "SELECT 0, class, 0, 0, '' FROM object WHERE id = ?1 "
         "UNION ALL SELECT 1, feature, value_class, number, text FROM attribute WHERE object = ?1 "
         "UNION ALL SELECT 2, feature, target, 0, '' FROM reference WHERE object = ?1 "
         "UNION ALL SELECT 3, feature, 0, 0, '' FROM members_of WHERE feature IS NOT NULL "
         "UNION ALL SELECT 4, feature, 0, 0, '' FROM values_of WHERE feature IS NOT NULL"},
        // The same of every object numbered ?1 to ?2, each table read once
        // along its primary key: the object first (its part, its number,
        // then as above).
        {database,
         "SELECT 0, id, class, 0, 0, '' FROM object WHERE id BETWEEN ?1 AND ?2 "
         "UNION ALL SELECT 1, object, feature, value_class, number, text FROM attribute "
         "  WHERE object BETWEEN ?1 AND ?2 "
         "UNION ALL SELECT 2, object, feature, target, 0, '' FROM reference "
         "  WHERE object BETWEEN ?1 AND ?2 "
         "UNION ALL SELECT 3, object, feature, 0, 0, '' FROM member "
         "  WHERE object BETWEEN ?1 AND ?2 GROUP BY object, feature "
         "UNION ALL SELECT 4, object, feature, 0, 0, '' FROM value_item "
         "  WHERE object BETWEEN ?1 AND ?2 GROUP BY object, feature"},
        {database, "SELECT member, next FROM member WHERE object = ?1 AND feature = ?2"},
        {database,
         "SELECT value_class, number, text FROM value_item WHERE object = ?1 AND feature = ?2 "
         "ORDER BY position"},
        {database, "DELETE FROM reference WHERE object = ?1 AND feature = ?2"},
        {database, "DELETE FROM member WHERE object = ?1 AND feature = ?2 AND member = ?3"},
        {database, "DELETE FROM member WHERE object = ?1 AND feature = ?2"},
        {database, "DELETE FROM value_item WHERE object = ?1 AND feature = ?2"},
        {database,
         "INSERT INTO value_item (object, feature, position, value_class, number, text) "
         "VALUES (?1, ?2, ?3, ?4, ?5, ?6)"},
        {database, "SELECT id FROM object WHERE class = ?1 ORDER BY id"},
        {database,
         "SELECT object FROM attribute WHERE feature = ?1 AND text = ?2 AND number = ?3 "
         "UNION SELECT object FROM value_item WHERE feature = ?1 AND text = ?2 AND number = ?3 "
         "ORDER BY object"},
        {database,
         "SELECT object FROM reference WHERE feature = ?1 AND target = ?2 "
         "UNION ALL SELECT object FROM member WHERE feature = ?1 AND member = ?2 ORDER BY 1"},
        {database, "SELECT count(*) FROM object"},
        // Past every number the file holds, whatever object_number says.
        {database,
         "SELECT max((SELECT coalesce(max(next), 1) FROM object_number), "
         "(SELECT coalesce(max(id), 0) + 1 FROM object))"},
        {database, "UPDATE object_number SET next = ?1"},
        {database, "DELETE FROM attribute WHERE object = ?1"},
        {database, "DELETE FROM reference WHERE object = ?1"},
        {database, "DELETE FROM member WHERE object = ?1"},
        {database, "DELETE FROM value_item WHERE object = ?1"},
        {database, "DELETE FROM object WHERE id = ?1"},
        {database,
         "SELECT feature, object FROM reference WHERE target = ?1 "
         "UNION SELECT feature, object FROM member WHERE member = ?1 ORDER BY 1, 2"},
        {database,
         "INSERT INTO commit_log (sequence, time_us, principal, server) VALUES (?1, ?2, ?3, ?4)"},
        {database,
         "SELECT sequence, time_us, principal, server FROM commit_log WHERE sequence > ?1 "
         "ORDER BY sequence LIMIT ?2"},
        {database,
         // Of object ?2 alone when not 0: a range of the key, which an
         // "or" would not let SQLite read along it (a commit of a million).
         "SELECT object, change, class FROM commit_object WHERE sequence = ?1 "
         "AND object BETWEEN (CASE WHEN ?2 = 0 THEN 0 ELSE ?2 END) "
         "AND (CASE WHEN ?2 = 0 THEN 9223372036854775807 ELSE ?2 END) ORDER BY object"},
        {database, "SELECT coalesce(max(sequence), 0) FROM commit_log"},
        {database, "DELETE FROM attribute WHERE object = ?1 AND feature = ?2"},
        {database,
         "SELECT sequence FROM commit_object WHERE object = ?1 AND sequence < ?2 "
         "ORDER BY sequence DESC LIMIT ?3"},
        {database, "SELECT time_us, principal, server FROM commit_log WHERE sequence = ?1"},
        {database, "SELECT object, changes FROM commit_object WHERE sequence = ?1"},
        {database, "SELECT object, changes FROM commit_object WHERE sequence = ?1 AND object = ?2"},
        // The object's later commits, along its index, never through the log.
        {database,
         "SELECT sequence, changes FROM commit_object WHERE object = ?1 AND sequence > ?2 "
         "ORDER BY sequence"},
        {database,
         "UPDATE commit_object SET changes = NULL WHERE changes IS NOT NULL AND sequence < "
         "(SELECT coalesce(min(sequence), 9223372036854775807) FROM commit_log "
         " WHERE time_us >= ?1)"},
        {database, "PRAGMA data_version"},
        {database, "BEGIN IMMEDIATE"},
        {database, "COMMIT"},
        {database, "ROLLBACK"},
        {database, "SAVEPOINT held_call"},
        {database, "ROLLBACK TO held_call"},
        {database, "RELEASE held_call"},
    };
  }

  static Ids column(Statement& statement) {
    Ids ids;
    while (statement.step()) ids.push_back(static_cast<ObjectId>(statement.integer(0)));
    return ids;
  }

  // A row of readObject (the part from column 0) or readObjects (the part,
  // then the object, from column 1).
  static ObjectPart part(ObjectId id, const Statement& row, int at) {
    ObjectPart part;
    part.object = id;
    part.kind = static_cast<ObjectPart::Kind>(row.integer(0));
    const int from = at + 1;
    part.feature = static_cast<FeatureId>(row.integer(from));
    if (part.kind == ObjectPart::Value || part.kind == ObjectPart::Reference) {
      part.a = row.integer(from + 1);
      part.b = row.integer(from + 2);
    }
    if (part.kind == ObjectPart::Value) part.text = row.text(from + 3);
    return part;
  }

  // Names as the file keeps them; a byte that is no UTF-8 becomes U+FFFD.
  static std::u16string textOf(const std::string& name) {
    try {
      return utf::toUtf16(name);
    } catch (const std::invalid_argument&) {
      std::u16string kept;
      for (unsigned char byte : name) kept.push_back(byte < 0x80 ? byte : u'\uFFFD');
      return kept;
    }
  }

  // The objects the commit touched (that one alone, when not 0), at most
  // `most` and one: one more than `most` says there are more.
  void readTouched(CommitRecord& record, ObjectId object, std::size_t most = SIZE_MAX) {
    const Use use(statements_.commitObjects);
    use->bind(1, static_cast<std::int64_t>(record.sequence)).bind(2, object);
    for (std::size_t read = 0; read <= most && use->step(); ++read) {
      const TouchedObject touched{static_cast<ObjectId>(use->integer(0)),
                                  static_cast<ClassId>(use->integer(2))};
      const std::u16string change = use->text(1);
      (change == u"created"   ? record.created
       : change == u"deleted" ? record.deleted
                              : record.changed)
          .push_back(touched);
    }
  }

  // A commit with its changes (those of `object` alone, when not 0).
  // A commit with its first `mostChanges` changes (those of `object` alone,
  // when not 0).
  std::optional<CommitRecord> readCommit(std::uint64_t sequence, ObjectId object,
                                         std::size_t mostChanges) {
    CommitRecord record;
    record.sequence = sequence;
    {
      const Use use(statements_.commitRow);
      use->bind(1, static_cast<std::int64_t>(sequence));
      if (!use->step()) return std::nullopt;
      record.timeMicros = use->integer(0);
      record.principal = utf::toUtf8(use->text(1));
      record.server = utf::toUtf8(use->text(2));
    }
    readTouched(record, object);
    Statement& changes = object == 0 ? statements_.changesAt : statements_.changesOfObjectAt;
    const Use use(changes);
    use->bind(1, static_cast<std::int64_t>(sequence));
    if (object != 0) use->bind(2, object);
    FirstChanges read(mostChanges);
    while (use->step())
      read.add(decodeChanges(static_cast<ObjectId>(use->integer(0)), use->bytes(1)));
    std::move(read).into(record);
    return record;
  }

  void logCommit(const CommitRecord& record) {
    const auto sequence = static_cast<std::int64_t>(record.sequence);
    {
      const Use use(statements_.logCommit);
      use->bind(1, sequence).bind(2, record.timeMicros).bind(3, textOf(record.principal));
      use->bind(4, textOf(record.server)).run();
    }
    const std::pair<const std::vector<TouchedObject>*, const char16_t*> lists[] = {
        {&record.created, u"created"},
        {&record.changed, u"changed"},
        {&record.deleted, u"deleted"}};
    const CommitHistory history(record);
    struct Row {
      TouchedObject touched;
      const char16_t* change;
      std::string changes;
    };
    std::vector<Row> rows;
    const auto write = [&] {
      touchedRows_.write(database_, rows, [&](Statement& statement, int at, const Row& row) {
        statement.bind(at + 1, sequence).bind(at + 2, row.touched.id);
        statement.bind(at + 3, std::u16string_view(row.change)).bind(at + 4, row.touched.classId);
        statement.bindBytes(at + 5, row.changes);
      });
    };
    for (const auto& [objects, change] : lists) {
      for (const TouchedObject& touched : *objects) {
        rows.push_back({touched, change, history.bytesOf(touched)});
        if (rows.size() == ManyRows::kMostRows) write();
      }
    }
    write();
  }

  // SQLite's hook after each commit, which nothing may unwind through: a
  // checkpointer that fails here leaves the log longer, and the next commit
  // looks at it again.
  static int logGrew(void* rows, sqlite3*, const char*, int pages) noexcept {
    try {
      static_cast<SqliteRows*>(rows)->checkpointer_.logGrew(pages);
    } catch (...) {
    }
    return SQLITE_OK;
  }

  FileLock lock_;  // first made, last gone
  Database database_;
  Statements statements_;
  SqliteNameIndex names_;
  StoreOptions::Roots roots_;
  Statement readRoots_, addRoot_, dropRoot_;
  RowBatches batches_{database_};  // new rows not yet written
  ManyRows touchedRows_{
      "INSERT INTO commit_object (sequence, object, change, class, changes) VALUES ",
      "(?, ?, ?, ?, ?)", 5};
  ObjectId nextFiled_ = 1;        // the next object number as the file holds it
  std::int64_t dataVersion_ = 0;  // as othersWrote last read it
  LogCheckpointer checkpointer_;  // stopped before the database closes
};

}  // namespace

std::unique_ptr<PersistentStore> openSqliteStore(const std::filesystem::path& path,
                                                 const SqliteStoreOptions& options) {
  return makeCachedStore(std::make_unique<SqliteRows>(path, options));
}

void removeRepositoryFile(const std::filesystem::path& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    std::filesystem::remove(path.string() + suffix, ignored);
}
