#include "store/postgres_store.h"

#include <array>
#include <cstdint>

#include "store/cached_store.h"
#include "store/change_rows.h"
#include "store/pg_connection.h"
#include "store/pg_text.h"
#include "store/postgres_schema.h"
#include "store/store_rows.h"
#include "utf/utf.h"

namespace {

using Ids = std::vector<ObjectId>;

// More objects changed by others than this since a server's last call, and
// it drops its whole cache rather than each.
constexpr int kMostStaleListed = 10'000;
// The rows of a commit's changes read at a time.
constexpr int kChangeRowsPage = 1'000;

// The text in `column`, or in the raw column after it when that is set.
std::u16string textAt(const PgResult& rows, int row, int column) {
  const bool exact = rows.isNull(row, column + 1);
  const std::string_view raw = exact ? std::string_view() : rows.text(row, column + 1);
  return fromPg(rows.text(row, column), exact ? nullptr : &raw);
}

PgParams& operator<<(PgParams& params, const PgText& text) {
  params << text.text;
  return text.exact ? params.null() : params << text.raw;
}

// Every statement the store sends, prepared on each connection.
const std::vector<PgStatement>& statements() {
  static const std::vector<PgStatement> all = {
      {"begin_read", "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"},
      {"begin_write", "BEGIN ISOLATION LEVEL READ COMMITTED READ WRITE"},
      {"commit", "COMMIT"},
      {"rollback", "ROLLBACK"},
      {"mark", "SAVEPOINT held_call"},
      {"rollback_to_mark", "ROLLBACK TO SAVEPOINT held_call"},
      {"release_mark", "RELEASE SAVEPOINT held_call"},
      // The state, and the objects others changed or deleted since $1: one
      // row each, or one row with a null object.
      // (Its one row is said to be one: a row updated at every commit
      // leaves versions behind that make the planner think of many.)
      {"state_read",
       "SELECT s.sequence, s.next_number, s.object_count, o.object "
       "FROM (SELECT * FROM commit_state LIMIT 1) s "
       "LEFT JOIN LATERAL (SELECT object FROM commit_object WHERE sequence > $1::bigint "
       "  AND sequence <= s.sequence AND change <> 'created' ORDER BY sequence LIMIT 10001) o "
       "ON true"},
      // The lock every writing call takes first. In READ COMMITTED, the
      // statements after it see every commit before it; it itself may not
      // (a row locked while it waited is read anew, the rest is not), so
      // the state is read by the next statement.
      {"lock", "SELECT 1 FROM commit_state FOR UPDATE"},
      {"state_write", "UPDATE commit_state SET sequence = $1, next_number = $2, object_count = $3"},
      {"log_commit",
       "INSERT INTO commit_log (sequence, time, principal, server) "
       "VALUES ($1, timestamptz 'epoch' + $2::bigint * interval '1 microsecond', $3, $4)"},
      // The objects a commit touched, each with its changes in hex (NULL
      // where not kept).
      {"log_objects",
       "INSERT INTO commit_object (sequence, object, change, class, changes) "
       "SELECT $1, o, c, k, decode(h, 'hex') "
       "FROM unnest($2::bigint[], $3::text[], $4::integer[], $5::text[]) AS t(o, c, k, h)"},
      {"history_commits",
       "SELECT sequence FROM commit_object WHERE object = $1 AND sequence < $2 "
       "ORDER BY sequence DESC LIMIT $3"},
      {"commit_row",
       "SELECT (extract(epoch FROM time) * 1000000)::bigint, principal, server "
       "FROM commit_log WHERE sequence = $1"},
      {"commit_objects_at",
       "SELECT object, change, class FROM commit_object WHERE sequence = $1 "
       "AND object BETWEEN (CASE WHEN $2 = 0 THEN 0 ELSE $2 END) "
       "AND (CASE WHEN $2 = 0 THEN 9223372036854775807 ELSE $2 END) ORDER BY object"},
      // A page of a commit's objects' changes, after object $2 (of object
      // $3 alone, when not 0), along the primary key: a range of it, which
      // an "or" would not let a generic plan read along.
      {"changes_at",
       "SELECT object, encode(changes, 'hex') FROM commit_object "
       "WHERE sequence = $1 AND object > $2 "
       "AND object BETWEEN (CASE WHEN $3 = 0 THEN 0 ELSE $3 END) "
       "AND (CASE WHEN $3 = 0 THEN 9223372036854775807 ELSE $3 END) "
       "ORDER BY object LIMIT $4"},
      // The object's later commits, along its index, never through the log.
      {"next_change",
       "SELECT sequence, encode(changes, 'hex') FROM commit_object WHERE object = $1 "
       "AND sequence > $2 ORDER BY sequence"},
      {"forget_history",
       "UPDATE commit_object SET changes = NULL WHERE changes IS NOT NULL AND sequence < "
       "(SELECT coalesce(min(sequence), 9223372036854775807) FROM commit_log "
       " WHERE time >= timestamptz 'epoch' + $1::bigint * interval '1 microsecond')"},
      {"clear_attribute", "DELETE FROM attribute WHERE object = $1 AND feature = $2"},
      {"commits_since",
       "SELECT sequence, (extract(epoch FROM time) * 1000000)::bigint, principal, server "
       "FROM commit_log WHERE sequence > $1 ORDER BY sequence LIMIT $2"},
      {"commit_objects",
       "SELECT sequence, object, change, class FROM commit_object "
       "WHERE sequence BETWEEN $1 AND $2 ORDER BY sequence, object LIMIT $3"},
      // An object whole, one row a part, as the repository file's statement;
      // the features it holds members or values of are found a step at a
      // time down the primary keys.
      {"read_object",
       "WITH RECURSIVE "
       "members_of(feature) AS (SELECT min(feature) FROM member WHERE object = $1 "
       "  UNION ALL SELECT (SELECT min(feature) FROM member WHERE object = $1 "
       "  AND feature > members_of.feature) FROM members_of WHERE feature IS NOT NULL), "
       "values_of(feature) AS (SELECT min(feature) FROM value_item WHERE object = $1 "
       "  UNION ALL SELECT (SELECT min(feature) FROM value_item WHERE object = $1 "
       "  AND feature > values_of.feature) FROM values_of WHERE feature IS NOT NULL) "
       "SELECT 0, class, 0::bigint, 0, '', NULL::bytea FROM object WHERE id = $1 "
       "UNION ALL SELECT 1, feature, value_class, number, text, raw FROM attribute "
       "  WHERE object = $1 "
       "UNION ALL SELECT 2, feature, target, 0, '', NULL FROM reference WHERE object = $1 "
       "UNION ALL SELECT 3, feature, 0, 0, '', NULL FROM members_of WHERE feature IS NOT NULL "
       "UNION ALL SELECT 4, feature, 0, 0, '', NULL FROM values_of WHERE feature IS NOT NULL"},
      {"read_objects",
       "SELECT 0, id, class, 0::bigint, 0, '', NULL::bytea FROM object "
       "  WHERE id BETWEEN $1 AND $2 "
       "UNION ALL SELECT 1, object, feature, value_class, number, text, raw FROM attribute "
       "  WHERE object BETWEEN $1 AND $2 "
       "UNION ALL SELECT 2, object, feature, target, 0, '', NULL FROM reference "
       "  WHERE object BETWEEN $1 AND $2 "
       "UNION ALL SELECT DISTINCT 3, object, feature, 0::bigint, 0, '', NULL::bytea FROM member "
       "  WHERE object BETWEEN $1 AND $2 "
       "UNION ALL SELECT DISTINCT 4, object, feature, 0::bigint, 0, '', NULL::bytea "
       "  FROM value_item WHERE object BETWEEN $1 AND $2"},
      {"read_chain", "SELECT member, next FROM member WHERE object = $1 AND feature = $2"},
      {"read_values",
       "SELECT value_class, number, text, raw FROM value_item WHERE object = $1 AND feature = $2 "
       "ORDER BY position"},
      {"instances", "SELECT id FROM object WHERE class = $1 ORDER BY id"},
      {"holding",
       "SELECT object FROM attribute WHERE feature = $1 AND number = $3 AND md5(text) = md5($2) "
       "  AND text = $2 AND raw IS NOT DISTINCT FROM $4::bytea "
       "UNION SELECT object FROM value_item WHERE feature = $1 AND number = $3 "
       "  AND md5(text) = md5($2) AND text = $2 AND raw IS NOT DISTINCT FROM $4::bytea "
       "ORDER BY 1"},
      {"referring",
       "SELECT object FROM reference WHERE feature = $1 AND target = $2 "
       "UNION ALL SELECT object FROM member WHERE feature = $1 AND member = $2 ORDER BY 1"},
      {"chains",
       "SELECT object, feature, member, next FROM member WHERE object BETWEEN $1 AND $2 "
       "LIMIT $3"},
      {"incoming",
       "SELECT target, feature, object FROM reference WHERE target BETWEEN $1 AND $2 "
       "UNION ALL SELECT member, feature, object FROM member WHERE member BETWEEN $1 AND $2"},
      {"references_to",
       "SELECT feature, object FROM reference WHERE target = $1 "
       "UNION SELECT feature, object FROM member WHERE member = $1 ORDER BY 1, 2"},
      {"add_object", "INSERT INTO object (id, class) VALUES ($1, $2)"},
      {"remove_attributes", "DELETE FROM attribute WHERE object = $1"},
      {"remove_references", "DELETE FROM reference WHERE object = $1"},
      {"remove_members", "DELETE FROM member WHERE object = $1"},
      {"remove_values", "DELETE FROM value_item WHERE object = $1"},
      {"remove_object", "DELETE FROM object WHERE id = $1"},
      {"set_attribute",
       "INSERT INTO attribute (object, feature, value_class, number, text, raw) "
       "VALUES ($1, $2, $3, $4, $5, $6::bytea) ON CONFLICT (object, feature) DO UPDATE SET "
       "value_class = excluded.value_class, number = excluded.number, text = excluded.text, "
       "raw = excluded.raw"},
      {"set_reference",
       "INSERT INTO reference (object, feature, target) VALUES ($1, $2, $3) "
       "ON CONFLICT (object, feature) DO UPDATE SET target = excluded.target"},
      {"clear_reference", "DELETE FROM reference WHERE object = $1 AND feature = $2"},
      {"add_member", "INSERT INTO member (object, feature, member, next) VALUES ($1, $2, $3, $4)"},
      {"remove_member", "DELETE FROM member WHERE object = $1 AND feature = $2 AND member = $3"},
      {"relink", "UPDATE member SET next = $4 WHERE object = $1 AND feature = $2 AND member = $3"},
      {"clear_members", "DELETE FROM member WHERE object = $1 AND feature = $2"},
      {"clear_values", "DELETE FROM value_item WHERE object = $1 AND feature = $2"},
      {"add_value",
       "INSERT INTO value_item (object, feature, position, value_class, number, text, raw) "
       "VALUES ($1, $2, $3, $4, $5, $6, $7::bytea)"},
      // The index of names (name_search.h), in step with the searched value.
      {"set_search_name",
       "INSERT INTO search_name (object, folded) VALUES ($1, $2) "
       "ON CONFLICT (object) DO UPDATE SET folded = excluded.folded"},
      {"remove_search_name", "DELETE FROM search_name WHERE object = $1"},
      {"read_roots", "SELECT object FROM root_object ORDER BY object"},
      {"add_root", "INSERT INTO root_object (object) VALUES ($1) ON CONFLICT DO NOTHING"},
      {"drop_root", "DELETE FROM root_object WHERE object = $1"},
      {"clear_search_grams", "DELETE FROM search_gram WHERE object = $1"},
      {"add_search_grams",
       "INSERT INTO search_gram (gram, object) SELECT DISTINCT g, $1::bigint FROM unnest($2::bigint[]) g"},
      {"search_exact",
       "SELECT object FROM search_name WHERE folded = $1 ORDER BY folded, object LIMIT $2"},
      {"search_prefix",
       "SELECT object FROM search_name WHERE folded > $1 AND folded < $2 "
       "ORDER BY folded, object LIMIT $3"},
      {"search_containing",
       "SELECT s.object FROM search_name s WHERE s.object IN ("
       "  SELECT object FROM search_gram WHERE gram = $1 INTERSECT "
       "  SELECT object FROM search_gram WHERE gram = $2 INTERSECT "
       "  SELECT object FROM search_gram WHERE gram = $3) "
       "AND strpos(s.folded, $4) > 1 ORDER BY s.folded, s.object LIMIT $5"},
  };
  return all;
}

Ids column(const PgResult& rows) {
  Ids ids;
  ids.reserve(static_cast<std::size_t>(rows.rows()));
  for (int row = 0; row < rows.rows(); ++row) {
    ids.push_back(static_cast<ObjectId>(rows.integer(row, 0)));
  }
  return ids;
}

std::string sessionSetup(const StoreOptions& options) {
  // A commit is acknowledged once the database's log holds it on its disk,
  // unless --sync relaxed asks otherwise: then PostgreSQL killed, or the
  // machine losing power, may lose the last commits, never a part of one.
  // Every statement is a short lookup along an index: compiling one (JIT)
  // would cost more than running it, and a planner misled about the commit
  // state's size would do so.
  return std::string("SET client_encoding = 'UTF8'; SET application_name = 'qovixd'; ") +
         "SET jit = off; SET synchronous_commit = " +
         (options.sync == StoreOptions::Sync::Relaxed ? "off" : "on");
}

class PostgresRows final : public StoreRows {
 public:
  PostgresRows(const std::string& conninfo, const StoreOptions& options)
      : searched_(options.searchedName),
        roots_(options.roots),
        connection_(conninfo, statements(), sessionSetup(options),
                    [options](PgConnection& connection) {
                      preparePostgresRepository(connection, options);
                    }) {}

  std::string describe() const override { return connection_.description(); }

  bool shared() const override { return true; }

  RowsState begin(bool writes) override {
    try {
      return beginOnce(writes);
    } catch (const StoreError&) {
      if (!connection_.lost()) throw;
    }
    // The connection was lost between calls (the database restarted, a
    // network went): nothing of this call has happened yet, so it begins
    // again on a new connection, once.
    reconnect();
    return beginOnce(writes);
  }

  void commit(ObjectId nextNumber, std::size_t objectCount,
              std::span<const CommitRecord> records) override {
    if (!writes_ || (!wrote_ && records.empty())) {
      // Nothing to keep: the end is sent, and not waited for.
      connection_.send("commit");
      connection_.flush();
      return;
    }
    const std::uint64_t sequence = records.empty() ? lastSeen_ : records.back().sequence;
    connection_.send("state_write", PgParams() << static_cast<std::int64_t>(sequence)
                                               << std::int64_t{nextNumber}
                                               << static_cast<std::int64_t>(objectCount));
    for (const CommitRecord& record : records) logCommit(record);
    connection_.send("commit");
    connection_.wait();  // acknowledged only once kept
    lastSeen_ = sequence;
  }

  void rollback() override {
    if (connection_.lost()) return;
    try {
      connection_.quietSoFar();  // what failed is undone with the rest
      connection_.send("rollback");
      connection_.flush();
    } catch (const StoreError&) {
      // the connection went: the server undoes the transaction itself
    }
  }

  // Taken and forgotten without waiting: a failure there comes out of the
  // commit, which then keeps none of the calls held.
  void mark() override { connection_.send("mark"); }
  void releaseMark() override { connection_.send("release_mark"); }
  // Waited for: the savepoint also mends a transaction a failed statement
  // aborted, and when it cannot (the failure came before it), the caller
  // must know that the held calls are lost.
  void rollbackToMark() override {
    connection_.quietSoFar();
    connection_.send("rollback_to_mark");
    connection_.send("release_mark");
    connection_.wait();
  }

  RowsState current() override {
    const PgResult rows = connection_.fetch("state_read", PgParams() << std::int64_t{0});
    RowsState state = stateOf(rows, false);
    lastSeen_ = state.lastCommit;
    return state;
  }

  void readObject(ObjectId id, std::vector<ObjectPart>& parts) override {
    const PgResult rows = connection_.fetch("read_object", PgParams() << std::int64_t{id});
    for (int row = 0; row < rows.rows(); ++row) parts.push_back(partOf(rows, row, id, 0));
  }

  void readObjects(ObjectId first, ObjectId last, std::vector<ObjectPart>& parts) override {
    const PgResult rows =
        connection_.fetch("read_objects", PgParams() << std::int64_t{first} << std::int64_t{last});
    for (int row = 0; row < rows.rows(); ++row) {
      parts.push_back(partOf(rows, row, static_cast<ObjectId>(rows.integer(row, 1)), 1));
    }
  }

  std::vector<std::pair<ObjectId, ObjectId>> readChain(ObjectId id, FeatureId feature) override {
    const PgResult rows =
        connection_.fetch("read_chain", PgParams() << std::int64_t{id} << std::int64_t{feature});
    std::vector<std::pair<ObjectId, ObjectId>> links;
    for (int row = 0; row < rows.rows(); ++row) {
      links.emplace_back(static_cast<ObjectId>(rows.integer(row, 0)),
                         static_cast<ObjectId>(rows.integer(row, 1)));
    }
    return links;
  }

  std::vector<StoredValue> readValues(ObjectId id, FeatureId feature) override {
    const PgResult rows =
        connection_.fetch("read_values", PgParams() << std::int64_t{id} << std::int64_t{feature});
    std::vector<StoredValue> values;
    for (int row = 0; row < rows.rows(); ++row) {
      values.push_back({static_cast<ValueClassId>(rows.integer(row, 0)),
                        static_cast<std::int32_t>(rows.integer(row, 1)), textAt(rows, row, 2)});
    }
    return values;
  }

  Ids instances(ClassId classId) override {
    return column(connection_.fetch("instances", PgParams() << std::int64_t{classId}));
  }

  Ids holding(FeatureId feature, const StoredValue& value) override {
    const PgText text = toPg(value.text);
    PgParams params;
    params << std::int64_t{feature} << text.text << std::int64_t{value.number};
    if (text.exact) {
      params.null();
    } else {
      params << text.raw;
    }
    return column(connection_.fetch("holding", params));
  }

  Ids referring(FeatureId feature, ObjectId target) override {
    return column(connection_.fetch("referring",
                                    PgParams() << std::int64_t{feature} << std::int64_t{target}));
  }

  StoreOptions::Roots rootsKept() const override { return roots_; }
  Ids readRoots() override { return column(connection_.fetch("read_roots", PgParams())); }
  void writeRoot(ObjectId id, bool root) override {
    write(root ? "add_root" : "drop_root", PgParams() << std::int64_t{id});
  }

  // Each question is a round trip: what refers to the objects read ahead
  // comes with them.
  bool readIncoming(ObjectId first, ObjectId last, std::vector<Incoming>& incoming) override {
    const PgResult rows =
        connection_.fetch("incoming", PgParams() << std::int64_t{first} << std::int64_t{last});
    for (int row = 0; row < rows.rows(); ++row) {
      incoming.push_back({static_cast<ObjectId>(rows.integer(row, 0)),
                          static_cast<FeatureId>(rows.integer(row, 1)),
                          static_cast<ObjectId>(rows.integer(row, 2))});
    }
    return true;
  }

  bool readChains(ObjectId first, ObjectId last, std::size_t most,
                  std::vector<Link>& links) override {
    const PgResult rows =
        connection_.fetch("chains", PgParams() << std::int64_t{first} << std::int64_t{last}
                                               << static_cast<std::int64_t>(most + 1));
    if (static_cast<std::size_t>(rows.rows()) > most) return false;
    for (int row = 0; row < rows.rows(); ++row) {
      links.push_back({static_cast<ObjectId>(rows.integer(row, 0)),
                       static_cast<FeatureId>(rows.integer(row, 1)),
                       static_cast<ObjectId>(rows.integer(row, 2)),
                       static_cast<ObjectId>(rows.integer(row, 3))});
    }
    return true;
  }

  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) override {
    const PgResult rows = connection_.fetch("references_to", PgParams() << std::int64_t{target});
    std::vector<std::pair<FeatureId, ObjectId>> found;
    for (int row = 0; row < rows.rows(); ++row) {
      found.emplace_back(static_cast<FeatureId>(rows.integer(row, 0)),
                         static_cast<ObjectId>(rows.integer(row, 1)));
    }
    return found;
  }

  void addObject(ObjectId id, ClassId classId) override {
    write("add_object", PgParams() << std::int64_t{id} << std::int64_t{classId});
  }

  void removeObject(ObjectId id) override {
    for (const char* remove : {"remove_attributes", "remove_references", "remove_members",
                               "remove_values", "remove_object"}) {
      write(remove, PgParams() << std::int64_t{id});
    }
    unindexName(id);
  }

  void setAttribute(ObjectId id, FeatureId feature, const StoredValue& value) override {
    PgParams params;
    params << std::int64_t{id} << std::int64_t{feature} << std::int64_t{value.valueClass}
           << std::int64_t{value.number} << toPg(value.text);
    write("set_attribute", params);
    if (feature == searched_ && feature != 0) indexName(id, value.text);
  }

  void clearAttribute(ObjectId id, FeatureId feature) override {
    write("clear_attribute", PgParams() << std::int64_t{id} << std::int64_t{feature});
    if (feature == searched_ && feature != 0) unindexName(id);
  }

  Ids namesMatching(name_search::Match match, std::u16string_view folded,
                    std::size_t most) override {
    const std::string text = toPg(std::u16string(folded)).text;
    const auto limit = static_cast<std::int64_t>(std::min<std::size_t>(most, INT32_MAX));
    switch (match) {
      case name_search::Match::Exact:
        return column(connection_.fetch("search_exact", PgParams() << text << limit));
      case name_search::Match::Prefix:
        return column(connection_.fetch("search_prefix",
                                        PgParams() << text << text + "\xF4\x8F\xBF\xBF" << limit));
      case name_search::Match::Containing:
        break;
    }
    std::vector<std::int64_t> grams = name_search::lookupGrams(folded);
    if (grams.empty()) return {};
    grams.resize(3, grams.front());  // the same gram again narrows nothing
    return column(connection_.fetch(
        "search_containing", PgParams() << grams[0] << grams[1] << grams[2] << text << limit));
  }

  void setReference(ObjectId id, FeatureId feature, ObjectId target) override {
    write("set_reference",
          PgParams() << std::int64_t{id} << std::int64_t{feature} << std::int64_t{target});
  }

  void clearReference(ObjectId id, FeatureId feature) override {
    write("clear_reference", PgParams() << std::int64_t{id} << std::int64_t{feature});
  }

  void addMember(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) override {
    write("add_member", PgParams() << std::int64_t{id} << std::int64_t{feature}
                                   << std::int64_t{member} << std::int64_t{next});
  }

  void removeMember(ObjectId id, FeatureId feature, ObjectId member) override {
    write("remove_member",
          PgParams() << std::int64_t{id} << std::int64_t{feature} << std::int64_t{member});
  }

  void relink(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) override {
    write("relink", PgParams() << std::int64_t{id} << std::int64_t{feature} << std::int64_t{member}
                               << std::int64_t{next});
  }

  void clearMembers(ObjectId id, FeatureId feature) override {
    write("clear_members", PgParams() << std::int64_t{id} << std::int64_t{feature});
  }

  void setValues(ObjectId id, FeatureId feature, const std::vector<StoredValue>& values) override {
    write("clear_values", PgParams() << std::int64_t{id} << std::int64_t{feature});
    for (std::size_t i = 0; i < values.size(); ++i) {
      PgParams params;
      params << std::int64_t{id} << std::int64_t{feature} << static_cast<std::int64_t>(i)
             << std::int64_t{values[i].valueClass} << std::int64_t{values[i].number}
             << toPg(values[i].text);
      write("add_value", params);
    }
  }

  std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                         std::size_t mostObjects) override {
    std::vector<CommitRecord> found;
    const PgResult rows = connection_.fetch(
        "commits_since",
        PgParams() << static_cast<std::int64_t>(std::min<std::uint64_t>(sequence, INT64_MAX))
                   << static_cast<std::int64_t>(
                          std::min<std::size_t>(most, static_cast<std::size_t>(INT64_MAX))));
    for (int row = 0; row < rows.rows(); ++row) {
      CommitRecord& record = found.emplace_back();
      record.sequence = static_cast<std::uint64_t>(rows.integer(row, 0));
      record.timeMicros = rows.integer(row, 1);
      record.principal = rows.text(row, 2);
      record.server = rows.text(row, 3);
    }
    if (found.empty()) return found;
    // The first commit whole, then the others' objects only while the page
    // has room: one row past the room says the commit it falls in is cut,
    // and that commit and those after it are left to the next page.
    readTouched(found, 0, 0, SIZE_MAX);
    const std::size_t first = touchedCount(found.front());
    if (found.size() > 1) {
      const std::size_t room = first >= mostObjects ? 0 : mostObjects - first;
      const std::size_t past = readTouched(found, 1, found.size() - 1, room + 1);
      if (past > room) {
        std::size_t kept = first, at = 1;
        while (at < found.size() && kept + touchedCount(found[at]) <= mostObjects) {
          kept += touchedCount(found[at++]);
        }
        found.resize(at);
      }
    }
    return found;
  }

  // Reads the objects commits found[from..to] touched, at most `most` rows;
  // answers how many rows came.
  std::size_t readTouched(std::vector<CommitRecord>& found, std::size_t from, std::size_t to,
                          std::size_t most) {
    const PgResult objects = connection_.fetch(
        "commit_objects", PgParams() << static_cast<std::int64_t>(found[from].sequence)
                                     << static_cast<std::int64_t>(found[to].sequence)
                                     << static_cast<std::int64_t>(std::min<std::size_t>(
                                            most, static_cast<std::size_t>(INT64_MAX))));
    std::size_t at = from;
    for (int row = 0; row < objects.rows(); ++row) {
      const auto of = static_cast<std::uint64_t>(objects.integer(row, 0));
      while (at < found.size() && found[at].sequence < of) ++at;
      if (at == found.size()) break;
      const TouchedObject touched{static_cast<ObjectId>(objects.integer(row, 1)),
                                  static_cast<ClassId>(objects.integer(row, 3))};
      const std::string_view change = objects.text(row, 2);
      (change == "created"   ? found[at].created
       : change == "deleted" ? found[at].deleted
                             : found[at].changed)
          .push_back(touched);
    }
    return static_cast<std::size_t>(objects.rows());
  }

  std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                      std::size_t most) override {
    const PgResult rows = connection_.fetch(
        "history_commits",
        PgParams() << std::int64_t{object}
                   << static_cast<std::int64_t>(
                          before == 0 ? INT64_MAX : std::min<std::uint64_t>(before, INT64_MAX))
                   << static_cast<std::int64_t>(
                          std::min<std::size_t>(most, static_cast<std::size_t>(INT64_MAX))));
    std::vector<CommitRecord> found;
    for (int row = 0; row < rows.rows(); ++row) {
      if (std::optional<CommitRecord> record =
              readCommit(static_cast<std::uint64_t>(rows.integer(row, 0)), object, SIZE_MAX)) {
        found.push_back(std::move(*record));
      }
    }
    return found;
  }

  std::optional<CommitRecord> commitAt(std::uint64_t sequence, std::size_t mostChanges) override {
    return readCommit(sequence, 0, mostChanges);
  }

  std::uint64_t nextChangeOf(ObjectId object, std::optional<FeatureId> feature,
                             std::uint64_t after) override {
    const PgResult rows = connection_.fetch(
        "next_change",
        PgParams() << std::int64_t{object}
                   << static_cast<std::int64_t>(std::min<std::uint64_t>(after, INT64_MAX)));
    for (int row = 0; row < rows.rows(); ++row) {
      const bool kept = !rows.isNull(row, 1);
      const std::string bytes = kept ? bytesOfHex(rows.text(row, 1)) : std::string();
      const std::string_view held(bytes);
      if (changesSlot(object, feature, kept ? &held : nullptr)) {
        return static_cast<std::uint64_t>(rows.integer(row, 0));
      }
    }
    return 0;
  }

  void forgetHistoryBefore(std::int64_t timeMicros) override {
    write("forget_history", PgParams() << timeMicros);
  }

 private:
  RowsState beginOnce(bool writes) {
    writes_ = writes;
    wrote_ = false;
    connection_.send(writes ? "begin_write" : "begin_read");
    if (writes) connection_.send("lock");
    const PgResult rows =
        connection_.fetch("state_read", PgParams() << static_cast<std::int64_t>(lastSeen_));
    RowsState state = stateOf(rows, allStale_);
    allStale_ = false;
    lastSeen_ = state.lastCommit;
    return state;
  }

  RowsState stateOf(const PgResult& rows, bool allStale) const {
    if (rows.rows() < 1) throw StoreError(describe() + " has no commit_state row");
    RowsState state;
    state.lastCommit = static_cast<std::uint64_t>(rows.integer(0, 0));
    state.nextNumber = static_cast<ObjectId>(rows.integer(0, 1));
    state.objectCount = static_cast<std::size_t>(rows.integer(0, 2));
    state.othersCommitted = allStale || state.lastCommit != lastSeen_;
    state.allStale = allStale || rows.rows() > kMostStaleListed;
    if (!state.allStale) {
      for (int row = 0; row < rows.rows(); ++row) {
        if (!rows.isNull(row, 3))
          state.stale.push_back(static_cast<ObjectId>(rows.integer(row, 3)));
      }
    }
    return state;
  }

  void reconnect() {
    connection_.reconnect();
    allStale_ = true;  // whatever happened meanwhile is not known
  }

  void indexName(ObjectId id, const std::u16string& name) {
    const std::u16string folded = name_search::folded(name);
    std::string grams = "{";
    for (std::int64_t gram : name_search::gramsOf(folded)) {
      grams.append(grams.size() > 1 ? "," : "").append(std::to_string(gram));
    }
    write("set_search_name", PgParams() << std::int64_t{id} << toPg(folded).text);
    write("clear_search_grams", PgParams() << std::int64_t{id});
    write("add_search_grams", PgParams() << std::int64_t{id} << grams + "}");
  }

  void unindexName(ObjectId id) {
    if (searched_ == 0) return;
    write("remove_search_name", PgParams() << std::int64_t{id});
    write("clear_search_grams", PgParams() << std::int64_t{id});
  }

  void write(const char* statement, const PgParams& params) {
    wrote_ = true;
    connection_.send(statement, params);
  }

  void logCommit(const CommitRecord& record) {
    const auto sequence = static_cast<std::int64_t>(record.sequence);
    connection_.send("log_commit", PgParams() << sequence << record.timeMicros << record.principal
                                              << record.server);
    // Each object's changes in hex: an array of numbers and hex needs no quoting.
    const CommitHistory history(record);
    std::string objects = "{", changes = "{", classes = "{", kept = "{";
    const std::array<std::pair<const std::vector<TouchedObject>*, const char*>, 3> lists = {
        {{&record.created, "created"}, {&record.changed, "changed"}, {&record.deleted, "deleted"}}};
    for (const auto& [touchedObjects, change] : lists) {
      for (const TouchedObject& touched : *touchedObjects) {
        if (objects.size() > 1) {
          objects += ',';
          changes += ',';
          classes += ',';
          kept += ',';
        }
        objects += std::to_string(touched.id);
        changes += change;
        classes += std::to_string(touched.classId);
        const std::string held = history.bytesOf(touched);
        kept += !held.empty() ? hexOf(held) : std::string("NULL");
      }
    }
    connection_.send("log_objects", PgParams() << sequence << objects + "}" << changes + "}"
                                               << classes + "}" << kept + "}");
  }

  // A commit with its first `mostChanges` changes (those of `object` alone,
  // when not 0). Its objects' changes are read a page of rows at a time,
  // so that what is held stays within the bound.
  std::optional<CommitRecord> readCommit(std::uint64_t sequence, ObjectId object,
                                         std::size_t mostChanges) {
    const auto at = static_cast<std::int64_t>(sequence);
    const PgResult head = connection_.fetch("commit_row", PgParams() << at);
    if (head.rows() == 0) return std::nullopt;
    CommitRecord record;
    record.sequence = sequence;
    record.timeMicros = head.integer(0, 0);
    record.principal = head.text(0, 1);
    record.server = head.text(0, 2);
    const PgResult objects =
        connection_.fetch("commit_objects_at", PgParams() << at << std::int64_t{object});
    for (int row = 0; row < objects.rows(); ++row) {
      const TouchedObject touched{static_cast<ObjectId>(objects.integer(row, 0)),
                                  static_cast<ClassId>(objects.integer(row, 2))};
      const std::string_view change = objects.text(row, 1);
      (change == "created"   ? record.created
       : change == "deleted" ? record.deleted
                             : record.changed)
          .push_back(touched);
    }
    FirstChanges read(mostChanges);
    for (std::int64_t after = object == 0 ? 0 : object - 1;;) {
      const PgResult changes =
          connection_.fetch("changes_at", PgParams() << at << after << std::int64_t{object}
                                                     << std::int64_t{kChangeRowsPage});
      for (int row = 0; row < changes.rows(); ++row) {
        after = changes.integer(row, 0);
        if (changes.isNull(row, 1)) continue;
        read.add(decodeChanges(static_cast<ObjectId>(after), bytesOfHex(changes.text(row, 1))));
      }
      if (changes.rows() < kChangeRowsPage) break;
    }
    std::move(read).into(record);
    return record;
  }

  static ObjectPart partOf(const PgResult& rows, int row, ObjectId id, int at) {
    ObjectPart part;
    part.object = id;
    part.kind = static_cast<ObjectPart::Kind>(rows.integer(row, 0));
    const int from = at + 1;
    part.feature = static_cast<FeatureId>(rows.integer(row, from));
    part.a = rows.integer(row, from + 1);
    part.b = rows.integer(row, from + 2);
    if (part.kind == ObjectPart::Value) part.text = textAt(rows, row, from + 3);
    return part;
  }

  FeatureId searched_;  // the value whose text the index of names holds; 0 none
  StoreOptions::Roots roots_;  // what the index of roots holds
  PgConnection connection_;
  std::uint64_t lastSeen_ = 0;  // the last commit this store has seen
  bool allStale_ = false;       // the next begin drops the whole cache
  bool writes_ = true;          // the transaction may write
  bool wrote_ = false;          // and it has
};

}  // namespace

bool namesPostgres(const std::string& store) {
  return store.starts_with("postgresql://") || store.starts_with("postgres://") ||
         store.starts_with("postgresql:");
}

// libpq takes a URI as it stands; "postgresql:" before a conninfo string is ours.
std::string conninfoOf(const std::string& store) {
  if (store.starts_with("postgresql://") || store.starts_with("postgres://")) return store;
  return store.substr(std::string_view("postgresql:").size());
}

std::unique_ptr<PersistentStore> openPostgresStore(const std::string& store,
                                                   const StoreOptions& options) {
  return makeCachedStore(std::make_unique<PostgresRows>(conninfoOf(store), options));
}

std::string describePostgres(const std::string& store) {
  return describeConninfo(conninfoOf(store));
}
