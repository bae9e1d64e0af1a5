#include "store/store_schema.h"

#include <string>
#include <vector>

#include "store/named_views.h"

namespace {

// Version 8 (version 7 led the indexes by target and by member with the
// feature, and kept a second index of each by target alone; version 6 had no index of roots; version 5 no index of names for search; version 4 had no history, nor the class of
// what a commit touched; version 1 lacked the index of values in lists; version 2 the next object
// number and the indexes by target alone, which removing objects needs; version 3 the commit log).
// Text is UTF-16 as the model holds it (the file's encoding), so every text comes back unit for
// unit.
constexpr const char* kSchema = R"sql(
CREATE TABLE object (
  id    INTEGER PRIMARY KEY,        -- the persistent object number, from 1
  class INTEGER NOT NULL            -- class.id
);
CREATE INDEX object_by_class ON object (class, id);
CREATE TABLE object_number (next INTEGER NOT NULL);  -- one row: the next number given
INSERT INTO object_number VALUES (1);

CREATE TABLE attribute (            -- value slots
  object      INTEGER NOT NULL,
  feature     INTEGER NOT NULL,     -- feature.id
  value_class INTEGER NOT NULL,
  number      INTEGER NOT NULL,     -- the payload of numbers and enumerations
  text        TEXT NOT NULL,        -- the payload of texts
  PRIMARY KEY (object, feature)
) WITHOUT ROWID;
CREATE INDEX attribute_by_value ON attribute (feature, text, number, object);

CREATE TABLE reference (            -- single references that are set
  object  INTEGER NOT NULL,
  feature INTEGER NOT NULL,
  target  INTEGER NOT NULL,
  PRIMARY KEY (object, feature)
) WITHOUT ROWID;
CREATE INDEX reference_by_target ON reference (target, feature, object);  -- whatever the feature too

CREATE TABLE member (               -- collections, each a chain: member, then next
  object  INTEGER NOT NULL,
  feature INTEGER NOT NULL,
  member  INTEGER NOT NULL,
  next    INTEGER NOT NULL,         -- the member after this one; 0 for the last
  PRIMARY KEY (object, feature, member)
) WITHOUT ROWID;
CREATE INDEX member_by_member ON member (member, feature, object);     -- whatever the feature too

CREATE TABLE value_item (           -- lists of values
  object      INTEGER NOT NULL,
  feature     INTEGER NOT NULL,
  position    INTEGER NOT NULL,     -- from 0
  value_class INTEGER NOT NULL,
  number      INTEGER NOT NULL,
  text        TEXT NOT NULL,
  PRIMARY KEY (object, feature, position)
) WITHOUT ROWID;
CREATE INDEX value_item_by_value ON value_item (feature, text, number, object);

CREATE TABLE commit_log (           -- one row per call that changed the repository
  sequence  INTEGER PRIMARY KEY,    -- from 1, in commit order
  time_us   INTEGER NOT NULL,       -- microseconds since the Unix epoch
  principal TEXT NOT NULL,          -- whom the call was made for; '' for nobody
  server    TEXT NOT NULL           -- the server that served it
);
CREATE TABLE commit_object (        -- what each commit touched
  sequence INTEGER NOT NULL,        -- commit_log.sequence
  object   INTEGER NOT NULL,
  change   TEXT NOT NULL,           -- 'created', 'changed' or 'deleted'
  class    INTEGER NOT NULL DEFAULT 0,  -- the object's class; 0 where not known (before version 5)
  changes  BLOB,                    -- its changes in the commit, the history (change_rows.h); NULL where not kept
  PRIMARY KEY (sequence, object)
) WITHOUT ROWID;
CREATE INDEX commit_object_by_object ON commit_object (object, sequence);

CREATE TABLE class (id INTEGER PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE feature (
  id    INTEGER PRIMARY KEY,
  owner INTEGER NOT NULL,           -- the declaring class; 0 for slots every class has
  name  TEXT NOT NULL
);

)sql";

// The index of names for search (name_search.h), made with the schema, or
// added to a file of an older one.
constexpr const char* kSearchTables = R"sql(
CREATE TABLE IF NOT EXISTS search_name (  -- each named object's name, folded for search
  object INTEGER PRIMARY KEY,
  folded TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS search_name_by_folded ON search_name (folded, object);
CREATE TABLE IF NOT EXISTS search_gram (  -- the grams of each folded name
  gram   INTEGER NOT NULL,
  object INTEGER NOT NULL,
  PRIMARY KEY (gram, object)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS search_state (feature INTEGER NOT NULL);  -- one row: the feature indexed
INSERT INTO search_state SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM search_state);
)sql";

// The index of roots (root_index.h), made with the schema, or added to a
// file of an older one.
constexpr const char* kRootTables = R"sql(
CREATE TABLE IF NOT EXISTS root_object (object INTEGER PRIMARY KEY);  -- the objects nothing owns
CREATE TABLE IF NOT EXISTS root_state (roots TEXT NOT NULL);  -- one row: which roots are indexed
INSERT INTO root_state SELECT '' WHERE NOT EXISTS (SELECT 1 FROM root_state);
)sql";

std::int64_t pragmaNumber(Database& database, const char* sql) {
  Statement statement(database, sql);
  return statement.step() ? statement.integer(0) : 0;
}

// The first column of every row `sql` answers, with `parameter` as ?1, as
// UTF-8 text.
std::vector<std::string> texts(sqlite3* database, const char* sql, const std::string& parameter) {
  sqlite3_stmt* statement = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) != SQLITE_OK) {
    throw StoreError(std::string("cannot read the schema: ") + sqlite3_errmsg(database));
  }
  sqlite3_bind_text(statement, 1, parameter.c_str(), -1, SQLITE_TRANSIENT);
  int code;
  while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    rows.emplace_back(text != nullptr ? text : "");
  }
  sqlite3_finalize(statement);
  if (code != SQLITE_DONE) {
    throw StoreError(std::string("cannot read the schema: ") + sqlite3_errmsg(database));
  }
  return rows;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

// How `name` (a table or an index of the schema) differs in `file` from
// `ours`; "" when it does not.
std::string difference(sqlite3* file, sqlite3* ours, const std::string& type,
                       const std::string& name) {
  constexpr const char* kEntry =
      "SELECT type || ' ' || tbl_name || ' ' || "
      "(sql LIKE 'CREATE VIRTUAL%') FROM sqlite_schema WHERE name = ?1";
  const std::vector<std::string> theirs = texts(file, kEntry, name);
  if (theirs.empty()) return "it has no " + type + " " + name;
  const std::string entry = texts(ours, kEntry, name)[0];
  if (theirs[0] != entry) {
    const std::string kind = theirs[0].substr(0, theirs[0].find(' '));
    if (theirs[0].ends_with(" 1")) return name + " is a virtual table, not an ordinary table";
    if (kind != type)
      return name + " is " + (kind == "index" ? "an " : "a ") + kind + ", not " +
             (type == "index" ? "an " : "a ") + type;
    return "index " + name + " is on another table";
  }
  const char* columns = type == "table"
                            ? "SELECT name || ' ' || type FROM pragma_table_info(?1) ORDER BY cid"
                            : "SELECT coalesce(name, 'an expression') FROM pragma_index_info(?1) "
                              "ORDER BY seqno";
  const std::vector<std::string> had = texts(file, columns, name);
  const std::vector<std::string> wanted = texts(ours, columns, name);
  if (had != wanted) {
    return type + " " + name + " has the columns (" + joined(had) + "), not (" + joined(wanted) +
           ")";
  }
  return "";
}

}  // namespace

std::string repositoryShapeFault(Database& database) {
  Database ours(":memory:", true);
  ours.execute(kSchema);
  ours.execute(kSearchTables);
  ours.execute(kRootTables);
  for (const char* type : {"table", "index"}) {
    for (const std::string& name :
         texts(ours.get(),
               "SELECT name FROM sqlite_schema WHERE type = ?1 AND sql IS NOT NULL "
               "ORDER BY rowid",
               type)) {
      if (std::string found = difference(database.get(), ours.get(), type, name); !found.empty()) {
        return found;
      }
    }
  }
  const std::vector<std::string> triggers = texts(
      database.get(), "SELECT name FROM sqlite_schema WHERE type = ?1 ORDER BY name", "trigger");
  if (!triggers.empty())
    return "it has triggers (" + joined(triggers) + "), which no repository has";
  return "";
}

namespace {

void writeNames(Database& database, const StoreOptions& options) {
  if (options.classNames.empty() && options.featureNames.empty()) return;
  database.execute("DELETE FROM class; DELETE FROM feature;");
  Statement addClass(database, "INSERT INTO class (id, name) VALUES (?1, ?2)");
  for (const auto& each : options.classNames) {
    const Use use(addClass);
    use->bind(1, each.id).bind(2, std::u16string(each.name.begin(), each.name.end())).run();
  }
  Statement addFeature(database, "INSERT INTO feature (id, owner, name) VALUES (?1, ?2, ?3)");
  for (const auto& each : options.featureNames) {
    const Use use(addFeature);
    use->bind(1, each.id).bind(2, each.owner);
    use->bind(3, std::u16string(each.name.begin(), each.name.end())).run();
  }
}

}  // namespace

void prepareRepositoryFile(Database& database, const StoreOptions& options) {
  const std::string file = "the repository file '" + database.path().string() + "'";
  // The file is this server's alone while it runs (its file lock keeps other
  // servers out): no other connection writes it, so the cache is never out
  // of date. One other connection of its own copies the write-ahead log into
  // the file beside it; readers such as the sqlite3 tool may look in too.
  database.execute("PRAGMA busy_timeout = 0");
  database.execute("BEGIN");
  const std::int64_t application = pragmaNumber(database, "PRAGMA application_id");
  const std::int64_t version = pragmaNumber(database, "PRAGMA user_version");
  const std::int64_t tables = pragmaNumber(database, "SELECT count(*) FROM sqlite_schema");
  database.execute("COMMIT");
  const bool empty = application == 0 && version == 0 && tables == 0;
  if (!empty && application != kStoreApplicationId) {
    throw StoreError(file + " is not a QOVIX repository (its application id is " +
                     std::to_string(application) + "); it was left as it is");
  }
  if (version > kStoreSchemaVersion) {
    throw StoreError(file + " has schema version " + std::to_string(version) +
                     ", newer than this qovixd reads (" + std::to_string(kStoreSchemaVersion) +
                     "); it was left as it is");
  }
  if (!empty && version < 1) {
    throw StoreError(file + " has no schema version; it was left as it is");
  }

  // The encoding holds from the file's first page, which WAL mode writes.
  if (empty) database.execute("PRAGMA encoding = 'UTF-16le'");
  database.execute("PRAGMA journal_mode = WAL");
  database.execute(options.sync == StoreOptions::Sync::Full ? "PRAGMA synchronous = FULL"
                                                            : "PRAGMA synchronous = NORMAL");
  // Pages are read into a page cache of 16 MiB, and no further: memory-
  // mapped pages would count to the server's resident memory, as much as
  // a call had read, and stay there.
  database.execute("PRAGMA mmap_size = 0; PRAGMA cache_size = -16384; PRAGMA temp_store = MEMORY");
  database.execute("BEGIN IMMEDIATE");
  if (empty) {
    database.execute(kSchema);
    database.execute(kSearchTables);
    database.execute(kRootTables);
    database.execute(kNamedViews);
    database.execute(("PRAGMA application_id = " + std::to_string(kStoreApplicationId)).c_str());
    database.execute(("PRAGMA user_version = " + std::to_string(kStoreSchemaVersion)).c_str());
  }
  if (!empty && version < 2) {
    // Version 1 files gain the index by which finds look into lists of values.
    database.execute(
        "CREATE INDEX value_item_by_value ON value_item (feature, text, number, object)");
  }
  if (!empty && version < 3) {
    // Version 2 files gain the next object number: past every number used.
    database.execute(
        "CREATE TABLE IF NOT EXISTS object_number (next INTEGER NOT NULL);"
        "INSERT INTO object_number SELECT coalesce(max(id), 0) + 1 FROM object "
        "  WHERE NOT EXISTS (SELECT 1 FROM object_number);"
        "CREATE INDEX IF NOT EXISTS reference_to ON reference (target);"
        "CREATE INDEX IF NOT EXISTS member_to ON member (member)");
  }
  if (!empty && version < 4) {
    // Version 3 files gain the commit log, empty: what came before is not known.
    database.execute(R"sql(
CREATE TABLE IF NOT EXISTS commit_log (           -- one row per call that changed the repository
  sequence  INTEGER PRIMARY KEY,    -- from 1, in commit order
  time_us   INTEGER NOT NULL,       -- microseconds since the Unix epoch
  principal TEXT NOT NULL,          -- whom the call was made for; '' for nobody
  server    TEXT NOT NULL           -- the server that served it
);
CREATE TABLE IF NOT EXISTS commit_object (        -- what each commit touched
  sequence INTEGER NOT NULL,        -- commit_log.sequence
  object   INTEGER NOT NULL,
  change   TEXT NOT NULL,           -- 'created', 'changed' or 'deleted'
  PRIMARY KEY (sequence, object)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS commit_object_by_object ON commit_object (object, sequence);
)sql");
  }
  if (!empty && version < 5) {
    // Version 4 files gain the class of what each commit touched, 0 for
    // the commits before, and the history, empty.
    for (const char* column : {"class INTEGER NOT NULL DEFAULT 0", "changes BLOB"}) {
      const std::string name = std::string(column).substr(0, std::string(column).find(' '));
      if (pragmaNumber(database, ("SELECT count(*) FROM pragma_table_info('commit_object') "
                                  "WHERE name = '" +
                                  name + "'")
                                     .c_str()) == 0) {
        database.execute(("ALTER TABLE commit_object ADD COLUMN " + std::string(column)).c_str());
      }
    }
  }
  if (!empty && version < 6) {
    // Version 5 files gain the index of names, empty: the store indexes
    // them once it is opened for a feature.
    database.execute(kSearchTables);
  }
  if (!empty && version < 7) {
    // Version 6 files gain the index of roots, empty: the store finds them
    // once it is opened for its roots.
    database.execute(kRootTables);
  }
  if (!empty && version < 8) {
    // Version 7 files kept two indexes of each by target: one led by the
    // feature, one by the target alone. One led by the target serves both,
    // and an import writes each reference and member into one index less.
    database.execute(
        "DROP INDEX IF EXISTS reference_to; DROP INDEX IF EXISTS member_to;"
        "DROP INDEX IF EXISTS reference_by_target; DROP INDEX IF EXISTS member_by_member;"
        "CREATE INDEX reference_by_target ON reference (target, feature, object);"
        "CREATE INDEX member_by_member ON member (member, feature, object)");
  }
  if (!empty && version < kStoreSchemaVersion) {
    database.execute(("PRAGMA user_version = " + std::to_string(kStoreSchemaVersion)).c_str());
  }
  // What follows reads the file's rows as ours: a table that is a view, or
  // a trigger, would run whatever it says.
  if (const std::string fault = repositoryShapeFault(database); !fault.empty()) {
    throw StoreError(file + " is not of the schema this qovixd makes: " + fault +
                     "; it was left as it is");
  }
  writeNames(database, options);
  database.execute("COMMIT");
}
