#pragma once

// The repository file's index of names for search (name_search.h): each
// named object's folded name in search_name, and its grams in search_gram,
// written beside the value whose text they index, in the same transaction.
// Names set wait, as the store's new rows do (row_batches.h), until
// kBatchNames of them wait (then they go to the connection's writing
// thread) or the file is to be read or written otherwise; then they go in
// by statements of many rows: an import names every object it makes, and a
// name has some ten grams.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/database.h"
#include "store/many_rows.h"
#include "store/name_search.h"

class SqliteNameIndex {
 public:
  // Indexes the text of `searched` (0: nothing); a file whose index is of
  // another feature, or of none, is indexed anew first (one transaction).
  SqliteNameIndex(Database& database, FeatureId searched);

  static constexpr std::size_t kBatchNames = 1024;

  FeatureId searched() const { return searched_; }
  void set(ObjectId id, std::u16string_view name);
  void remove(ObjectId id);
  std::vector<ObjectId> matching(name_search::Match match, std::u16string_view folded,
                                 std::size_t most);
  // Writes every waiting name; forgets them (the transaction is undone).
  void flush();
  void discard();

 private:
  // Names in the order set; nothing for one removed since.
  using Waiting = std::vector<std::pair<ObjectId, std::optional<std::u16string>>>;

  void reindex();
  void write(const Waiting& waiting);
  void removeFiled(ObjectId id);

  Database& database_;
  FeatureId searched_;
  Statement removeName_, removeGrams_, highest_, exact_, prefix_, containing_;
  ManyRows names_{"INSERT OR REPLACE INTO search_name (object, folded) VALUES ", "(?, ?)", 2};
  ManyRows grams_{"INSERT OR IGNORE INTO search_gram (gram, object) VALUES ", "(?, ?)", 2};
  Waiting waiting_;
  std::unordered_map<ObjectId, std::size_t> waitingAt_;
};
