#include "admin/store_commands.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>

#include "admin/open_tables.h"
#include "admin/table_rows.h"
#include "cli/utc_time.h"
#include "store/postgres_store.h"
#include "store/sqlite_store.h"
#include "qovix_protocol.h"

namespace qovix::admin {

namespace {

void requireVersion(RepositoryTables& tables) {
  const int version = tables.schemaVersion();
  if (version != tables.expectedSchemaVersion()) {
    throw std::runtime_error(tables.describe() + " has schema version " + std::to_string(version) +
                             ", not " + std::to_string(tables.expectedSchemaVersion()) +
                             ": serve it with this qovixd once, which brings it up to date");
  }
  if (const std::string fault = tables.shapeFault(); !fault.empty()) {
    throw std::runtime_error(tables.describe() + " is not of the schema qovixd makes: " + fault +
                             "; nothing was read from it");
  }
}

std::int64_t number(RepositoryTables& tables, const std::string& sql) {
  const auto rows = tables.query(sql);
  return rows.empty() || rows[0].empty() || rows[0][0].empty() ? 0 : std::stoll(rows[0][0]);
}

const Table& tableNamed(const std::string& name) {
  for (const Table& table : repositoryTables()) {
    if (table.name == name) return table;
  }
  throw std::logic_error("no table " + name);
}

// The faults one check finds, printed as they are found, at most 20 of a kind.
class Faults {
 public:
  explicit Faults(std::ostream& out) : out_(out) {}
  void add(const std::string& kind, const std::string& what) {
    const std::size_t seen = ++byKind_[kind];
    ++total_;
    if (seen <= kMostShown) out_ << "fault: " << what << '\n';
    if (seen == kMostShown + 1) out_ << "  (more faults of this kind are not shown)\n";
  }
  std::size_t total() const { return total_; }

 private:
  static constexpr std::size_t kMostShown = 20;
  std::ostream& out_;
  std::map<std::string, std::size_t> byKind_;
  std::size_t total_ = 0;
};

// Each collection must be one chain: one first member, each member naming
// the next of the same collection, and every member reached from the first.
void checkChains(RepositoryTables& tables, Faults& faults) {
  std::int64_t object = -1, feature = -1;
  std::map<std::int64_t, std::int64_t> next;  // member -> next
  const auto finish = [&] {
    if (next.empty()) return;
    const std::string which =
        "collection " + std::to_string(feature) + " of object " + std::to_string(object);
    std::set<std::int64_t> named;
    for (const auto& [member, after] : next) {
      if (after == 0) continue;
      if (next.count(after) == 0) {
        faults.add("chain", which + ": member " + std::to_string(member) + " names " +
                                std::to_string(after) + " as the next, which is no member");
      }
      if (!named.insert(after).second) {
        faults.add("chain", which + ": two members name " + std::to_string(after) + " as the next");
      }
    }
    std::vector<std::int64_t> firsts;
    for (const auto& each : next) {
      if (named.count(each.first) == 0) firsts.push_back(each.first);
    }
    if (firsts.size() != 1) {
      faults.add("chain",
                 which + " has " + std::to_string(firsts.size()) + " first members, not one");
      return;
    }
    std::size_t reached = 0;
    for (std::int64_t at = firsts.front(); at != 0 && reached <= next.size(); ++reached) {
      const auto found = next.find(at);
      if (found == next.end()) break;
      at = found->second;
    }
    if (reached != next.size()) {
      faults.add("chain", which + ": " +
                              std::to_string(next.size() - std::min(reached, next.size())) +
                              " of its " + std::to_string(next.size()) +
                              " members are not reached from the first");
    }
  };
  tables.scan(tableNamed("member"), [&](const Row& row) {
    const auto o = std::get<std::int64_t>(row[0]), f = std::get<std::int64_t>(row[1]);
    if (o != object || f != feature) {
      finish();
      next.clear();
      object = o;
      feature = f;
    }
    next[std::get<std::int64_t>(row[2])] = std::get<std::int64_t>(row[3]);
  });
  finish();
}

struct Question {
  const char* kind;
  const char* sql;
  std::string (*say)(const std::vector<std::string>& row);
};

const Question kDangling[] = {
    {"dangling",
     "SELECT object, feature FROM attribute a WHERE NOT EXISTS "
     "(SELECT 1 FROM object o WHERE o.id = a.object)",
     [](const auto& r) {
       return "a value of feature " + r[1] + " of object " + r[0] + ", which does not exist";
     }},
    {"dangling",
     "SELECT object, feature, target FROM reference r WHERE NOT EXISTS "
     "(SELECT 1 FROM object o WHERE o.id = r.object) OR NOT EXISTS "
     "(SELECT 1 FROM object o WHERE o.id = r.target)",
     [](const auto& r) {
       return "reference " + r[1] + " of object " + r[0] + " to object " + r[2] +
              ": one of them does not exist";
     }},
    {"dangling",
     "SELECT object, feature, member FROM member m WHERE NOT EXISTS "
     "(SELECT 1 FROM object o WHERE o.id = m.object) OR NOT EXISTS "
     "(SELECT 1 FROM object o WHERE o.id = m.member)",
     [](const auto& r) {
       return "collection " + r[1] + " of object " + r[0] + " holds object " + r[2] +
              ": one of them does not exist";
     }},
    {"dangling",
     "SELECT object, feature FROM value_item v WHERE NOT EXISTS "
     "(SELECT 1 FROM object o WHERE o.id = v.object) GROUP BY object, feature",
     [](const auto& r) {
       return "a list of values " + r[1] + " of object " + r[0] + ", which does not exist";
     }},
    {"class",
     "SELECT id, class FROM object o WHERE EXISTS (SELECT 1 FROM class) AND NOT EXISTS "
     "(SELECT 1 FROM class c WHERE c.id = o.class)",
     [](const auto& r) {
       return "object " + r[0] + " is of class " + r[1] + ", which the model has not";
     }},
    {"log",
     "SELECT DISTINCT sequence FROM commit_object c WHERE NOT EXISTS "
     "(SELECT 1 FROM commit_log l WHERE l.sequence = c.sequence)",
     [](const auto& r) {
       return "commit " + r[0] + " touched objects, but the log has no commit " + r[0];
     }},
};

}  // namespace

void copyStore(const std::string& from, const std::string& to, std::ostream& out) {
  if (from == to) throw std::runtime_error("copy takes two stores, not one twice");
  auto source = openTables(from, false);
  requireVersion(*source);
  std::error_code error;
  const bool madeFile = !namesPostgres(to) && !std::filesystem::exists(to, error);
  std::unique_ptr<RepositoryTables> target;
  try {
    target = openTables(to, true);
    requireVersion(*target);
    if (number(*target, "SELECT count(*) FROM object") != 0 ||
        number(*target, "SELECT count(*) FROM commit_log") != 0) {
      throw std::runtime_error(target->describe() +
                               " holds a repository already: copy writes only into a new or "
                               "empty one");
    }
    const auto started = std::chrono::steady_clock::now();
    source->beginReading();
    target->beginWriting();
    std::size_t rows = 0, objects = 0, commits = 0;
    for (const Table& table : repositoryTables()) {
      const auto loader = target->load(table);
      std::size_t count = 0;
      source->scan(table, [&](const Row& row) {
        loader->add(row);
        ++count;
      });
      loader->finish();
      out << "  " << table.name << ": " << count << " rows\n";
      rows += count;
      if (std::string(table.name) == "object") objects = count;
      if (std::string(table.name) == "commit_log") commits = count;
    }
    const std::int64_t lastCommit = number(*source, "SELECT max(sequence) FROM commit_log");
    target->setCounters(source->counters(), lastCommit, static_cast<std::int64_t>(objects));
    target->commit();
    source->endReading();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    out << "copied " << objects << " objects and " << commits << " commits (" << rows
        << " rows) from " << source->describe() << " to " << target->describe() << " in " << seconds
        << " s (" << static_cast<long long>(objects / std::max(seconds, 1e-6))
        << " objects a second)\n";
  } catch (...) {
    if (target) target->rollback();
    target.reset();
    if (madeFile) removeRepositoryFile(to);
    throw;
  }
}

bool checkStore(const std::string& store, std::ostream& out) {
  auto tables = openTables(store, false);
  Faults faults(out);
  const int version = tables->schemaVersion();
  if (version != tables->expectedSchemaVersion()) {
    faults.add("version", tables->describe() + " has schema version " + std::to_string(version) +
                              ", not " + std::to_string(tables->expectedSchemaVersion()));
    out << "1 fault found; nothing else was checked\n";
    return false;
  }
  if (const std::string fault = tables->shapeFault(); !fault.empty()) {
    faults.add("schema", tables->describe() + " is not of the schema qovixd makes: " + fault);
    out << "1 fault found; nothing else was checked: its rows cannot be read as a "
           "repository's\n";
    return false;
  }
  tables->beginReading();
  for (const Question& question : kDangling) {
    for (const auto& row : tables->query(question.sql))
      faults.add(question.kind, question.say(row));
  }
  checkChains(*tables, faults);

  const std::int64_t commits = number(*tables, "SELECT count(*) FROM commit_log");
  const std::int64_t first = number(*tables, "SELECT min(sequence) FROM commit_log");
  const std::int64_t last = number(*tables, "SELECT max(sequence) FROM commit_log");
  if (commits != 0 && (first != 1 || last != commits)) {
    for (const auto& row : tables->query(
             "SELECT sequence + 1 FROM commit_log c WHERE sequence < " + std::to_string(last) +
             " AND NOT EXISTS (SELECT 1 FROM commit_log d WHERE d.sequence = c.sequence + 1)")) {
      faults.add("log", "the commit log skips commit " + row[0]);
    }
    if (first != 1) faults.add("log", "the commit log begins at commit " + std::to_string(first));
  }
  const std::int64_t objects = number(*tables, "SELECT count(*) FROM object");
  const std::int64_t highest = number(*tables, "SELECT max(id) FROM object");
  if (tables->counters().nextNumber <= highest) {
    faults.add("counters", "the next object number, " +
                               std::to_string(tables->counters().nextNumber) +
                               ", is not past object " + std::to_string(highest));
  }
  if (namesPostgres(store)) {
    const auto state = tables->query("SELECT sequence, object_count FROM commit_state");
    if (state.size() != 1) {
      faults.add("counters",
                 "commit_state holds " + std::to_string(state.size()) + " rows, not one");
    } else {
      if (std::stoll(state[0][0]) != last) {
        faults.add("counters", "commit_state says the last commit is " + state[0][0] +
                                   ", the log " + std::to_string(last));
      }
      if (std::stoll(state[0][1]) != objects) {
        faults.add("counters", "commit_state counts " + state[0][1] + " objects, there are " +
                                   std::to_string(objects));
      }
    }
  }
  tables->endReading();
  // The engine's own checks, each in a transaction of its own.
  std::string skipped;
  for (const std::string& fault : tables->engineCheck(skipped)) faults.add("index", fault);
  if (!skipped.empty()) out << "note: " << skipped << '\n';
  if (faults.total() != 0) {
    out << faults.total() << (faults.total() == 1 ? " fault" : " faults") << " found in "
        << tables->describe() << '\n';
    return false;
  }
  out << "clean: " << tables->describe() << ", " << objects << " objects, " << commits
      << " commits\n";
  return true;
}

void printInfo(const std::string& store, std::ostream& out) {
  auto tables = openTables(store, false);
  const int version = tables->schemaVersion();
  out << "store: " << tables->describe() << '\n'
      << "schema version: " << version << " (this qovix-store reads "
      << tables->expectedSchemaVersion() << ")\n";
  if (version != tables->expectedSchemaVersion()) return;
  if (const std::string fault = tables->shapeFault(); !fault.empty()) {
    out << "schema: not the one qovixd makes: " << fault << "; nothing more was read\n";
    return;
  }
  tables->beginReading();
  out << "objects: " << number(*tables, "SELECT count(*) FROM object") << '\n';
  for (const auto& row : tables->query(
           "SELECT o.class, c.name, count(*) FROM object o LEFT JOIN class c ON c.id = o.class "
           "GROUP BY o.class, c.name ORDER BY count(*) DESC, o.class")) {
    const std::string name = row[1].empty() ? "class " + row[0] : row[1];
    out << "  " << qovix::protocol::shortClassName(name) << ' ' << row[2] << '\n';
  }
  const std::int64_t commits = number(*tables, "SELECT count(*) FROM commit_log");
  out << "commits: " << commits << '\n';
  const auto lastRow = tables->query(std::string("SELECT sequence, ") + tables->commitMicros() +
                                     ", principal, server FROM commit_log ORDER BY sequence "
                                     "DESC LIMIT 1");
  if (!lastRow.empty()) {
    out << "last commit: " << lastRow[0][0] << " at " << cli::utcText(std::stoll(lastRow[0][1]))
        << " by " << (lastRow[0][2].empty() ? "(nobody)" : lastRow[0][2]) << " on " << lastRow[0][3]
        << '\n';
  }
  const auto history = tables->query(
      "SELECT count(DISTINCT sequence), coalesce(sum(length(changes)), 0) FROM commit_object "
      "WHERE changes IS NOT NULL");
  if (!history.empty()) {
    out << "history: the changes of " << history[0][0] << " commits, " << history[0][1]
        << " bytes\n";
  }
  tables->endReading();
}

void backupStore(const std::string& store, const std::string& file, std::ostream& out) {
  if (namesPostgres(store)) {
    throw std::runtime_error(
        "backup copies a repository file; back up a PostgreSQL repository with pg_dump "
        "(pg_dump -Fc -d DATABASE -f FILE; docs/store.md)");
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(store, error)) {
    throw std::runtime_error("there is no repository file '" + store + "'");
  }
  // A link is refused wherever it leads, even to nothing yet: backup writes
  // only the file it names.
  const auto named = std::filesystem::symlink_status(file, error);
  if (std::filesystem::is_symlink(named)) {
    throw std::runtime_error("'" + file + "' is a symbolic link; backup writes a new file, named "
                             "by its own path");
  }
  if (std::filesystem::exists(named)) {
    throw std::runtime_error("'" + file + "' exists: backup writes a new file");
  }
  const auto tables = openTables(store, false);
  requireVersion(*tables);
  sqlite3* source = nullptr;
  sqlite3* target = nullptr;
  const auto close = [&] {
    sqlite3_close_v2(source);
    sqlite3_close_v2(target);
  };
  if (sqlite3_open_v2(store.c_str(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      sqlite3_open_v2(file.c_str(), &target,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr) !=
          SQLITE_OK) {
    const std::string why = sqlite3_errmsg(source != nullptr ? source : target);
    close();
    removeRepositoryFile(file);
    throw std::runtime_error("cannot open the files to back up: " + why);
  }
  sqlite3_busy_timeout(source, 5000);
  // One step, in one read transaction: the copy is the file as of its start,
  // whatever the server writes meanwhile.
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
  const int code = backup != nullptr ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(target);
  const int pages = backup != nullptr ? sqlite3_backup_pagecount(backup) : 0;
  const int finished = sqlite3_backup_finish(backup);
  const std::string why = sqlite3_errmsg(target);
  close();
  if (code != SQLITE_DONE || finished != SQLITE_OK) {
    removeRepositoryFile(file);
    throw std::runtime_error("the backup of '" + store + "' failed: " + why);
  }
  out << "backed up " << tables->describe() << " (" << pages << " pages) to '" << file << "'\n";
}

}  // namespace qovix::admin
