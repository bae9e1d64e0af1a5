#include "store/name_search.h"

#include <algorithm>

namespace name_search {
namespace {

char16_t foldedUnit(char16_t unit) {
  if (unit < 0x80) return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
  if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) return static_cast<char16_t>(unit + 0x20);
  if (unit >= 0x100 && unit <= 0x17F) {
    // Latin Extended-A pairs a capital with the small letter after it,
    // from an even place (U+0100) or, between U+0139 and U+0148 and from
    // U+0179, an odd one; U+0178 is the capital of U+00FF.
    if (unit == 0x178) return 0xFF;
    if (unit == 0x130 || unit == 0x131 || unit == 0x138 || unit == 0x149 || unit == 0x17F)
      return unit;
    const bool oddPairs = (unit >= 0x139 && unit <= 0x148) || unit >= 0x179;
    return (unit % 2 == (oddPairs ? 1 : 0)) ? static_cast<char16_t>(unit + 1) : unit;
  }
  if (unit >= 0x391 && unit <= 0x3A9 && unit != 0x3A2) return static_cast<char16_t>(unit + 0x20);
  if (unit >= 0x410 && unit <= 0x42F) return static_cast<char16_t>(unit + 0x20);
  if (unit >= 0x400 && unit <= 0x40F) return static_cast<char16_t>(unit + 0x50);
  return unit;
}

std::int64_t gramAt(std::u16string_view text, std::size_t at) {
  std::int64_t gram = 0;
  for (std::size_t i = 0; i < kGramUnits; ++i) gram = (gram << 16) | text[at + i];
  return gram;
}

}  // namespace

std::u16string folded(std::u16string_view text) {
  std::u16string made(text);
  for (char16_t& unit : made) unit = foldedUnit(unit);
  return made;
}

std::vector<std::int64_t> gramsOf(std::u16string_view text) {
  std::vector<std::int64_t> grams;
  for (std::size_t at = 0; at + kGramUnits <= text.size(); ++at) {
    const std::int64_t gram = gramAt(text, at);
    if (std::find(grams.begin(), grams.end(), gram) == grams.end()) grams.push_back(gram);
  }
  return grams;
}

std::vector<std::int64_t> lookupGrams(std::u16string_view text) {
  std::vector<std::int64_t> grams;
  if (text.size() < kGramUnits) return grams;
  const std::size_t last = text.size() - kGramUnits;
  for (std::size_t at : {std::size_t{0}, last / 2, last}) {
    const std::int64_t gram = gramAt(text, at);
    if (std::find(grams.begin(), grams.end(), gram) == grams.end()) grams.push_back(gram);
  }
  return grams;
}

void NameIndex::add(ObjectId id, std::u16string_view name) {
  remove(id);
  std::u16string made = folded(name);
  for (std::int64_t gram : gramsOf(made)) byGram_[gram].insert(id);
  byName_.emplace(made, id);
  nameOf_.emplace(id, std::move(made));
}

void NameIndex::remove(ObjectId id) {
  const auto found = nameOf_.find(id);
  if (found == nameOf_.end()) return;
  for (std::int64_t gram : gramsOf(found->second)) {
    const auto holders = byGram_.find(gram);
    holders->second.erase(id);
    if (holders->second.empty()) byGram_.erase(holders);
  }
  byName_.erase({found->second, id});
  nameOf_.erase(found);
}

std::vector<ObjectId> NameIndex::matching(Match match, std::u16string_view text,
                                          std::size_t most) const {
  std::vector<ObjectId> found;
  if (match != Match::Containing) {
    for (auto at = byName_.lower_bound({std::u16string(text), 0});
         at != byName_.end() && found.size() < most && at->first.starts_with(text); ++at) {
      const bool exact = at->first.size() == text.size();
      if (match == Match::Exact && !exact) break;  // the exact ones come first
      if (exact == (match == Match::Exact)) found.push_back(at->second);
    }
    return found;
  }
  const std::vector<std::int64_t> grams = lookupGrams(text);
  if (grams.empty()) return found;
  const std::set<ObjectId>* rarest = nullptr;
  for (std::int64_t gram : grams) {
    const auto holders = byGram_.find(gram);
    if (holders == byGram_.end()) return found;
    if (rarest == nullptr || holders->second.size() < rarest->size()) rarest = &holders->second;
  }
  std::vector<std::pair<std::u16string_view, ObjectId>> hits;
  for (ObjectId id : *rarest) {
    const std::u16string& name = nameOf_.at(id);
    const std::size_t at = name.find(text);
    if (at != std::u16string::npos && at > 0) hits.emplace_back(name, id);
  }
  std::sort(hits.begin(), hits.end());
  for (std::size_t i = 0; i < hits.size() && i < most; ++i) found.push_back(hits[i].second);
  return found;
}

}  // namespace name_search
