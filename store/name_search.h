#pragma once

// Names as search compares them. Every store keeps an index of one value
// slot's text (StoreOptions::searchedName: the model's name), folded: the
// folded name whole, ordered, for names that are or begin with a text, and
// its grams (kGramUnits units in a row) for names that hold it elsewhere.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/store_api.h"
#include "store/vorn_types.h"

namespace name_search {

// How a folded name matches a folded text: it is the text, it begins with
// it and is longer, or it holds it past its start. No name matches two ways.
enum class Match { Exact, Prefix, Containing };

// A text shorter than this finds only names that are it, or begin with it.
inline constexpr std::size_t kGramUnits = 3;

// The text in the letter case search ignores: the capitals of Latin
// (Basic, Latin-1 and Extended-A), Greek and Cyrillic as their small
// letters, unit for unit, so the folded name is as long as the name.
STORE_API std::u16string folded(std::u16string_view text);

// Each gram of a folded text as one number (the units, 16 bits each), each
// once, in the order first found.
STORE_API std::vector<std::int64_t> gramsOf(std::u16string_view folded);

// The few grams of a folded text of at least kGramUnits units that a look-up
// intersects: its first, middle and last (fewer when they coincide). A
// name that holds the text holds all three.
STORE_API std::vector<std::int64_t> lookupGrams(std::u16string_view folded);

// The index in memory: what the memory store keeps, and the stores in a
// database keep as tables of the same two parts.
class STORE_API NameIndex {
 public:
  // Indexes the object under its name, in place of any it had.
  void add(ObjectId id, std::u16string_view name);
  void remove(ObjectId id);
  // The objects whose folded name matches `folded` (a folded text) so, in
  // the folded names' order, then by number; at most `most`. Containing
  // looks up the text's grams, and costs what the rarest of them holds.
  std::vector<ObjectId> matching(Match match, std::u16string_view folded, std::size_t most) const;

 private:
  std::set<std::pair<std::u16string, ObjectId>> byName_;
  std::unordered_map<ObjectId, std::u16string> nameOf_;
  std::unordered_map<std::int64_t, std::set<ObjectId>> byGram_;
};

}  // namespace name_search
