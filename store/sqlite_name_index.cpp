#include "store/sqlite_name_index.h"

#include <algorithm>

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
      setName_(database, "INSERT OR REPLACE INTO search_name (object, folded) VALUES (?1, ?2)"),
      addGram_(database, "INSERT OR IGNORE INTO search_gram (gram, object) VALUES (?1, ?2)"),
      removeName_(database, "DELETE FROM search_name WHERE object = ?1 RETURNING folded"),
      removeGrams_(database, "DELETE FROM search_gram WHERE gram = ?1 AND object = ?2"),
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
  remove(id);
  const std::u16string made = name_search::folded(name);
  {
    const Use use(setName_);
    use->bind(1, id).bind(2, made).run();
  }
  for (std::int64_t gram : name_search::gramsOf(made)) {
    const Use use(addGram_);
    use->bind(1, gram).bind(2, id).run();
  }
}

void SqliteNameIndex::remove(ObjectId id) {
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

std::vector<ObjectId> SqliteNameIndex::matching(name_search::Match match,
                                                std::u16string_view folded, std::size_t most) {
  std::vector<ObjectId> found;
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
    Statement state(database_, "UPDATE search_state SET feature = ?1");
    state.bind(1, searched_).run();
    database_.execute("COMMIT");
  } catch (...) {
    database_.execute("ROLLBACK");
    throw;
  }
}
