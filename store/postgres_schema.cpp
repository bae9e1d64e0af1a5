#include "store/postgres_schema.h"

#include <string>

#include "store/named_views.h"

namespace {

// Version 1. The same model as the repository file's (docs/store.md): text
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

}  // namespace

const char* postgresShapeFaults() {
  return "SELECT CASE WHEN c.oid IS NULL THEN 'it has no table ' || t.name "
         "  ELSE t.name || ' is ' || CASE c.relkind WHEN 'v' THEN 'a view' "
         "    WHEN 'm' THEN 'a materialized view' WHEN 'f' THEN 'a foreign table' "
         "    WHEN 'p' THEN 'a partitioned table' "
         "    ELSE 'a relation of kind ' || c.relkind::text END || ', not a table' END "
         "FROM unnest(ARRAY['qovix_repository', 'commit_state', 'object', 'attribute', "
         "  'reference', 'member', 'value_item', 'commit_log', 'commit_object', 'class', "
         "  'feature']) AS t(name) "
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
