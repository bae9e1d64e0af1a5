#pragma once

// The nearest names to a misspelt one, for "did you mean" hints.

#include <string>
#include <vector>

namespace qovix::tool {

// Up to `most` of `names` nearest to `text` (letter case aside), nearest
// first; only names close enough to be a likely slip: at most a third of
// the longer name's letters apart, and at least two.
std::vector<std::string> nearestNames(const std::string& text,
                                      const std::vector<std::string>& names, std::size_t most = 3);

// " (did you mean A, B?)" for the nearest names, or nothing.
std::string didYouMean(const std::string& text, const std::vector<std::string>& names);

}  // namespace qovix::tool
