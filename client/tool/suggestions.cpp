#include "client/tool/suggestions.h"

#include <algorithm>
#include <cctype>
#include <numeric>

namespace qovix::tool {
namespace {

std::string lowered(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The Levenshtein distance: inserts, deletes and changes of one letter.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
  std::iota(previous.begin(), previous.end(), 0);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, change});
    }
    std::swap(previous, current);
  }
  return previous[b.size()];
}

}  // namespace

std::vector<std::string> nearestNames(const std::string& text,
                                      const std::vector<std::string>& names, std::size_t most) {
  const std::string wanted = lowered(text);
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const std::string& name : names) {
    const std::size_t distance = editDistance(wanted, lowered(name));
    const std::size_t allowed = std::max<std::size_t>(2, std::max(wanted.size(), name.size()) / 3);
    if (distance <= allowed) scored.emplace_back(distance, name);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> nearest;
  for (const auto& [distance, name] : scored) {
    if (nearest.size() == most) break;
    if (std::find(nearest.begin(), nearest.end(), name) == nearest.end()) nearest.push_back(name);
  }
  return nearest;
}

std::string didYouMean(const std::string& text, const std::vector<std::string>& names) {
  const std::vector<std::string> nearest = nearestNames(text, names);
  if (nearest.empty()) return "";
  std::string hint = " (did you mean ";
  for (std::size_t i = 0; i < nearest.size(); ++i) {
    hint.append(i == 0 ? "" : ", ").append(nearest[i]);
  }
  return hint.append("?)");
}

}  // namespace qovix::tool
