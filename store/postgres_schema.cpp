#include "store/postgres_schema.h"

#include <string>

#include "store/name_search.h"
#include "store/named_views.h"
#include "store/pg_text.h"
#include "store/root_index.h"

namespace {

// Version 3 (version 2 had no index of names for search; version 1 no
// history). The same model as the repository file's (docs/store.md): text
// is UTF-8, and a text that UTF-8 cannot hold unit for unit (an unpaired
// surrogate, a NUL) is also kept whole in `raw`, as UTF-16LE; finds by
// value compare both. The commit log's one state row is what every writing
// call locks first, so writers take turns.
constexpr const char* kSchema = R"sql(
CREATE TABLE qovix_repository (
  application    text NOT NULL,     -- 'QOVIX repository'
  schema_version integer NOT NULL
);
CREATE TABLE commit_state (         -- one row
  sequence     bigint NOT NULL,     -- the last commit's; 0 before the first
  next_number  bigint NOT NULL,     -- the next object number given
  object_count bigint NOT NULL
);
INSERT INTO commit_state VALUES (0, 1, 0);

CREATE TABLE object (
  id    bigint PRIMARY KEY,         -- the persistent object number, from 1
  class integer NOT NULL            -- class.id
);
CREATE INDEX object_by_class ON object (class, id);

CREATE TABLE attribute (            -- value slots
  object      bigint NOT NULL,
  feature     integer NOT NULL,     -- feature.id
  value_class integer NOT NULL,
  number      integer NOT NULL,     -- the payload of numbers and enumerations
  text        text NOT NULL,        -- the payload of texts
  raw         bytea,                -- the text as UTF-16LE, when UTF-8 cannot hold it
  PRIMARY KEY (object, feature)
);
CREATE INDEX attribute_by_value ON attribute (feature, number, md5(text), object);

CREATE TABLE reference (            -- single references that are set
  object  bigint NOT NULL,
  feature integer NOT NULL,
  target  bigint NOT NULL,
  PRIMARY KEY (object, feature)
);
CREATE INDEX reference_by_target ON reference (feature, target, object);
CREATE INDEX reference_to ON reference (target);

CREATE TABLE member (               -- collections, each a chain: member, then next
  object  bigint NOT NULL,
  feature integer NOT NULL,
  member  bigint NOT NULL,
  next    bigint NOT NULL,          -- the member after this one; 0 for the last
  PRIMARY KEY (object, feature, member)
);
CREATE INDEX member_by_member ON member (feature, member, object);
CREATE INDEX member_to ON member (member);

CREATE TABLE value_item (           -- lists of values
  object      bigint NOT NULL,
  feature     integer NOT NULL,
  position    integer NOT NULL,     -- from 0
  value_class integer NOT NULL,
  number      integer NOT NULL,
  text        text NOT NULL,
  raw         bytea,
  PRIMARY KEY (object, feature, position)
);
CREATE INDEX value_item_by_value ON value_item (feature, number, md5(text), object);

CREATE TABLE commit_log (           -- one row per call that changed the repository
  sequence  bigint PRIMARY KEY,     -- from 1, in commit order
  time      timestamptz NOT NULL,
  principal text NOT NULL,          -- whom the call was made for; '' for nobody
  server    text NOT NULL           -- the server that served it
);
CREATE TABLE commit_object (        -- what each commit touched
  sequence bigint NOT NULL,         -- commit_log.sequence
  object   bigint NOT NULL,
  change   text NOT NULL CHECK (change IN ('created', 'changed', 'deleted')),
  class    integer NOT NULL DEFAULT 0,  -- the object's class; 0 where not known (before version 2)
  changes  bytea,                   -- its changes in the commit, the history; NULL where not kept
  PRIMARY KEY (sequence, object)
);
CREATE INDEX commit_object_by_object ON commit_object (object, sequence);

CREATE TABLE class (id integer PRIMARY KEY, name text NOT NULL);
CREATE TABLE feature (
  id    integer PRIMARY KEY,
  owner integer NOT NULL,           -- the declaring class; 0 for slots every class has
  name  text NOT NULL
);

)sql";

// The index of names for search (name_search.h), made with the schema, or
// added to a database of an older one.
constexpr const char* kSearchTables = R"sql(
CREATE TABLE IF NOT EXISTS search_name (  -- each named object's name, folded for search
  object bigint PRIMARY KEY,
  folded text COLLATE "C" NOT NULL
);
CREATE INDEX IF NOT EXISTS search_name_by_folded ON search_name (folded, object);
CREATE TABLE IF NOT EXISTS search_gram (  -- the grams of each folded name
  gram   bigint NOT NULL,
  object bigint NOT NULL,
  PRIMARY KEY (gram, object)
);
CREATE INDEX IF NOT EXISTS search_gram_by_object ON search_gram (object);
CREATE TABLE IF NOT EXISTS search_state (feature integer NOT NULL);  -- one row: the feature indexed
INSERT INTO search_state SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM search_state);
)sql";

// The index of roots (root_index.h), made with the schema, or added to a
// database of an older one.
constexpr const char* kRootTables = R"sql(
CREATE TABLE IF NOT EXISTS root_object (object bigint PRIMARY KEY);  -- the objects nothing owns
CREATE TABLE IF NOT EXISTS root_state (roots text NOT NULL);  -- one row: which roots are indexed
INSERT INTO root_state SELECT '' WHERE NOT EXISTS (SELECT 1 FROM root_state);
)sql";

// Keeps servers that open one database at once from making its schema twice.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(1364613202)";  // "QVXR"

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

void writeNames(PgConnection& connection, const StoreOptions& options) {
  if (options.classNames.empty() && options.featureNames.empty()) return;
  std::string sql = "DELETE FROM class; DELETE FROM feature;";
  for (const auto& each : options.classNames) {
    sql += "INSERT INTO class VALUES (" + std::to_string(each.id) + ", " + quoted(each.name) + ");";
  }
  for (const auto& each : options.featureNames) {
    sql += "INSERT INTO feature VALUES (" + std::to_string(each.id) + ", " +
           std::to_string(each.owner) + ", " + quoted(each.name) + ");";
  }
  connection.execute(sql, "writing the model's names");
}

// Indexes every name anew when the index is of another feature, or of
// none (a database of an older schema, or a copy): a page of names at a
// time, folded here, as the store folds them.
void indexNames(PgConnection& connection, FeatureId searched) {
  if (searched == 0) return;
  const PgResult state = connection.query("SELECT feature FROM search_state", "reading the index");
  if (state.rows() == 1 && state.integer(0, 0) == searched) return;
  connection.execute("DELETE FROM search_name; DELETE FROM search_gram", "indexing the names");
  const std::string feature = std::to_string(searched);
  for (std::string after = "0";;) {
    const PgResult page =
        connection.query("SELECT object, text, raw FROM attribute WHERE feature = " + feature +
                             " AND object > " + after + " ORDER BY object LIMIT 5000",
                         "indexing the names");
    if (page.rows() == 0) break;
    std::string names, grams;
    for (int row = 0; row < page.rows(); ++row) {
      const std::string object = std::to_string(page.integer(row, 0));
      const std::string_view raw = page.text(row, 2);
      const std::u16string folded =
          name_search::folded(fromPg(page.text(row, 1), page.isNull(row, 2) ? nullptr : &raw));
      names.append(names.empty() ? "(" : ",(")
          .append(object)
          .append(", ")
          .append(quoted(toPg(folded).text))
          .append(")");
      for (std::int64_t gram : name_search::gramsOf(folded)) {
        grams.append(grams.empty() ? "(" : ",(")
            .append(std::to_string(gram))
            .append(", ")
            .append(object)
            .append(")");
      }
      after = object;
    }
    connection.execute("INSERT INTO search_name (object, folded) VALUES " + names,
                       "indexing the names");
    if (!grams.empty()) {
      connection.execute("INSERT INTO search_gram (gram, object) VALUES " + grams,
                         "indexing the names");
    }
  }
  connection.execute("UPDATE search_state SET feature = " + feature, "indexing the names");
}

// Finds the roots anew when the index is of others, or of none.
void indexRoots(PgConnection& connection, const StoreOptions::Roots& roots) {
  if (!roots.kept()) return;
  const PgResult state = connection.query("SELECT roots FROM root_state", "reading the roots");
  if (state.rows() == 1 && state.text(0, 0) == root_index::signature(roots)) return;
  connection.execute(root_index::rebuildStatements(roots), "finding the roots");
}

}  // namespace

const char* postgresShapeFaults() {
  return "SELECT CASE WHEN c.oid IS NULL THEN 'it has no table ' || t.name "
         "  ELSE t.name || ' is ' || CASE c.relkind WHEN 'v' THEN 'a view' "
         "    WHEN 'm' THEN 'a materialized view' WHEN 'f' THEN 'a foreign table' "
         "    WHEN 'p' THEN 'a partitioned table' "
         "    ELSE 'a relation of kind ' || c.relkind::text END || ', not a table' END "
         "FROM unnest(ARRAY['qovix_repository', 'commit_state', 'object', 'attribute', "
         "  'reference', 'member', 'value_item', 'commit_log', 'commit_object', 'class', "
         "  'feature', 'search_name', 'search_gram', 'search_state', 'root_object', "
         "  'root_state']) AS t(name) "
         "LEFT JOIN pg_class c ON c.relname = t.name "
         "  AND c.relnamespace = to_regnamespace(current_schema()) "
         "WHERE c.oid IS NULL OR c.relkind <> 'r' "
         "UNION ALL "
         "SELECT 'table ' || c.relname || ' has the trigger ' || g.tgname || "
         "  ', which no repository has' "
         "FROM pg_trigger g JOIN pg_class c ON c.oid = g.tgrelid "
         "WHERE c.relnamespace = to_regnamespace(current_schema()) AND NOT g.tgisinternal "
         "UNION ALL "
         "SELECT 'table ' || tablename || ' has the rule ' || rulename || "
         "  ', which no repository has' "
         "FROM pg_rules WHERE schemaname = current_schema()";
}

void preparePostgresRepository(PgConnection& connection, const StoreOptions& options) {
  const std::string database = connection.description();
  connection.execute("BEGIN", "beginning");
  try {
    connection.execute(kSchemaLock, "waiting for the schema");
    const PgResult tables = connection.query(
        "SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()", "listing tables");
    const bool empty = tables.integer(0, 0) == 0;
    if (empty) {
      connection.execute(kSchema, "making the schema");
      connection.execute(kSearchTables, "making the schema");
      connection.execute(kRootTables, "making the schema");
      connection.execute(kNamedViews, "making the schema");
      connection.execute("INSERT INTO qovix_repository VALUES (" + quoted(kPostgresApplication) +
                             ", " + std::to_string(kPostgresSchemaVersion) + ")",
                         "making the schema");
    } else {
      const PgResult ours = connection.query(
          "SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() "
          "AND tablename = 'qovix_repository'",
          "looking for the repository");
      if (ours.integer(0, 0) == 0) {
        throw StoreError(database +
                         " is not a QOVIX repository (it has other tables); it was "
                         "left as it is");
      }
      const PgResult mark = connection.query(
          "SELECT application, schema_version FROM qovix_repository", "reading the schema version");
      if (mark.rows() != 1 || mark.text(0, 0) != kPostgresApplication) {
        throw StoreError(database + " is not a QOVIX repository; it was left as it is");
      }
      const std::int64_t version = mark.integer(0, 1);
      if (version > kPostgresSchemaVersion) {
        throw StoreError(database + " has schema version " + std::to_string(version) +
                         ", newer than this qovixd reads (" +
                         std::to_string(kPostgresSchemaVersion) + "); it was left as it is");
      }
      if (version < 4) {
        // Versions 1 to 3 gain the index of roots, empty: it is filled
        // below, once the store is opened for its roots.
        connection.execute(kRootTables, "adding the index of roots");
        connection.execute("UPDATE qovix_repository SET schema_version = " +
                               std::to_string(kPostgresSchemaVersion),
                           "adding the index of roots");
      }
      if (version < 3) {
        // Versions 1 and 2 gain the index of names, empty: it is filled
        // below, once the store is opened for a feature.
        connection.execute(kSearchTables, "adding the index of names");
        connection.execute("UPDATE qovix_repository SET schema_version = " +
                               std::to_string(kPostgresSchemaVersion),
                           "adding the index of names");
      }
      if (version < 2) {
        // Version 1 gains the history, empty, and the class of what each
        // commit touched, 0 for the commits before.
        connection.execute(
            "ALTER TABLE commit_object ADD COLUMN IF NOT EXISTS class integer NOT NULL DEFAULT 0; "
            "ALTER TABLE commit_object ADD COLUMN IF NOT EXISTS changes bytea",
            "adding the history");
        connection.execute("UPDATE qovix_repository SET schema_version = " +
                               std::to_string(kPostgresSchemaVersion),
                           "adding the history");
      }
    }
    // What follows reads and writes the tables as ours: a view or a rule in
    // one's place would run whatever it says.
    const PgResult faults = connection.query(postgresShapeFaults(), "checking the schema");
    if (faults.rows() != 0) {
      throw StoreError(database + " is not of the schema this qovixd makes: " +
                       std::string(faults.text(0, 0)) + "; it was left as it is");
    }
    writeNames(connection, options);
    indexNames(connection, options.searchedName);
    indexRoots(connection, options.roots);
    connection.execute("COMMIT", "keeping the schema");
  } catch (...) {
    try {
      connection.execute("ROLLBACK", "undoing");
    } catch (const StoreError&) {
      // the connection is gone, and the transaction with it
    }
    throw;
  }
}
