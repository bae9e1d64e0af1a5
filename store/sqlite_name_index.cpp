#include "store/sqlite_name_index.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// The first text past every text that begins with `folded`, in the order
// of the file's texts (memcmp of their units).
std::u16string pastPrefix(std::u16string_view folded) {
  return std::u16string(folded).append(1, u'\xFFFF');
}

}  // namespace

SqliteNameIndex::SqliteNameIndex(Database& database, FeatureId searched)
    : database_(database),
      searched_(searched),
      removeName_(database, "DELETE FROM search_name WHERE object = ?1 RETURNING folded"),
      removeGrams_(database, "DELETE FROM search_gram WHERE gram = ?1 AND object = ?2"),
      highest_(database, "SELECT max(object) FROM search_name"),
      exact_(database,
             "SELECT object FROM search_name WHERE folded = ?1 ORDER BY folded, object LIMIT ?2"),
      prefix_(database,
              "SELECT object FROM search_name WHERE folded > ?1 AND folded < ?2 "
              "ORDER BY folded, object LIMIT ?3"),
      containing_(database,
                  "SELECT s.object FROM search_name s WHERE s.object IN ("
                  "  SELECT object FROM search_gram WHERE gram = ?1 INTERSECT "
                  "  SELECT object FROM search_gram WHERE gram = ?2 INTERSECT "
                  "  SELECT object FROM search_gram WHERE gram = ?3) "
                  "AND instr(s.folded, ?4) > 1 ORDER BY s.folded, s.object LIMIT ?5") {
  Statement state(database, "SELECT feature FROM search_state");
  const FeatureId indexed = state.step() ? static_cast<FeatureId>(state.integer(0)) : 0;
  if (searched_ != 0 && indexed != searched_) reindex();
}

void SqliteNameIndex::set(ObjectId id, std::u16string_view name) {
  std::u16string folded = name_search::folded(name);
  if (const auto at = waitingAt_.find(id); at != waitingAt_.end()) {
    waiting_[at->second].second = std::move(folded);
    return;
  }
  waitingAt_.emplace(id, waiting_.size());
  waiting_.emplace_back(id, std::move(folded));
  if (waiting_.size() < kBatchNames) return;
  // To the connection's writing thread, while the next names wait here. A
  // name set again later goes in after this one, and replaces it.
  auto names = std::make_shared<Waiting>(std::exchange(waiting_, Waiting{}));
  waitingAt_.clear();
  database_.writeBehind([this, names] { write(*names); });
}

void SqliteNameIndex::remove(ObjectId id) {
  if (const auto at = waitingAt_.find(id); at != waitingAt_.end()) waiting_[at->second].second.reset();
  removeFiled(id);
}

// Takes the object's name and grams out of the file, when it has them.
void SqliteNameIndex::removeFiled(ObjectId id) {
  std::u16string was;
  {
    const Use use(removeName_);
    use->bind(1, id);
    if (!use->step()) return;
    was = use->text(0);
    while (use->step()) {
    }
  }
  for (std::int64_t gram : name_search::gramsOf(was)) {
    const Use use(removeGrams_);
    use->bind(1, gram).bind(2, id).run();
  }
}

void SqliteNameIndex::flush() {
  database_.settle();
  write(waiting_);
  discard();
}

void SqliteNameIndex::write(const Waiting& waiting) {
  if (waiting.empty()) return;
  // An object past the highest the file names has no name there to replace:
  // the objects a transaction makes, whose names are most of what waits.
  ObjectId highest = 0;
  {
    const Use use(highest_);
    if (use->step()) highest = static_cast<ObjectId>(use->integer(0));
  }
  std::vector<std::pair<ObjectId, const std::u16string*>> names;
  std::vector<std::pair<std::int64_t, ObjectId>> grams;
  for (const auto& [id, folded] : waiting) {
    if (id <= highest) removeFiled(id);
    if (!folded) continue;
    names.emplace_back(id, &*folded);
    for (std::int64_t gram : name_search::gramsOf(*folded)) grams.emplace_back(gram, id);
  }
  names_.write(database_, names, [](Statement& statement, int at, const auto& row) {
    statement.bind(at + 1, row.first).bind(at + 2, *row.second);
  });
  grams_.write(database_, grams, [](Statement& statement, int at, const auto& row) {
    statement.bind(at + 1, row.first).bind(at + 2, row.second);
  });
}

void SqliteNameIndex::discard() {
  database_.dropWritten();
  waiting_.clear();
  waitingAt_.clear();
}

std::vector<ObjectId> SqliteNameIndex::matching(name_search::Match match,
                                                std::u16string_view folded, std::size_t most) {
  std::vector<ObjectId> found;
  flush();
  const auto limit = static_cast<std::int64_t>(std::min<std::size_t>(most, INT32_MAX));
  Statement* query = nullptr;
  std::u16string past;
  switch (match) {
    case name_search::Match::Exact:
      query = &exact_;
      exact_.bind(1, folded).bind(2, limit);
      break;
    case name_search::Match::Prefix:
      query = &prefix_;
      past = pastPrefix(folded);
      prefix_.bind(1, folded).bind(2, past).bind(3, limit);
      break;
    case name_search::Match::Containing: {
      std::vector<std::int64_t> grams = name_search::lookupGrams(folded);
      if (grams.empty()) return found;
      grams.resize(3, grams.front());  // the same gram again narrows nothing
      query = &containing_;
      containing_.bind(1, grams[0]).bind(2, grams[1]).bind(3, grams[2]);
      containing_.bind(4, folded).bind(5, limit);
      break;
    }
  }
  const Use use(*query);
  while (use->step()) found.push_back(static_cast<ObjectId>(use->integer(0)));
  return found;
}

// Indexes every name the file holds, as one transaction: a file of an
// older schema, or indexed for another feature, once.
void SqliteNameIndex::reindex() {
  database_.execute("BEGIN IMMEDIATE");
  try {
    database_.execute("DELETE FROM search_name; DELETE FROM search_gram");
    Statement names(database_, "SELECT object, text FROM attribute WHERE feature = ?1");
    names.bind(1, searched_);
    while (names.step()) set(static_cast<ObjectId>(names.integer(0)), names.text(1));
    flush();
    Statement state(database_, "UPDATE search_state SET feature = ?1");
    state.bind(1, searched_).run();
    database_.execute("COMMIT");
  } catch (...) {
    database_.execute("ROLLBACK");
    throw;
  }
}
