#pragma once

// The repository file's index of names for search (name_search.h): each
// named object's folded name in search_name, and its grams in search_gram,
// written beside the value whose text they index, in the same transaction.

#include <string_view>
#include <vector>

#include "store/database.h"
#include "store/name_search.h"

class SqliteNameIndex {
 public:
  // Indexes the text of `searched` (0: nothing); a file whose index is of
  // another feature, or of none, is indexed anew first (one transaction).
  SqliteNameIndex(Database& database, FeatureId searched);

  FeatureId searched() const { return searched_; }
  void set(ObjectId id, std::u16string_view name);
  void remove(ObjectId id);
  std::vector<ObjectId> matching(name_search::Match match, std::u16string_view folded,
                                 std::size_t most);

 private:
  void reindex();

  Database& database_;
  FeatureId searched_;
  Statement setName_, addGram_, removeName_, removeGrams_, exact_, prefix_, containing_;
};
