#pragma once

// Answers the store has read from the file's indexes, kept by question
// until a change could alter them: the store forgets a question's answer
// whenever it writes something that question asks about.

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "store/vorn_types.h"

template <class Question, class Hash = std::hash<Question>>
class KeptAnswers {
 public:
  using Ids = std::vector<ObjectId>;

  // The kept answer, or null when there is none.
  const Ids* find(const Question& question) const {
    const auto found = answers_.find(question);
    return found != answers_.end() ? &found->second : nullptr;
  }
  const Ids& keep(const Question& question, Ids answer) {
    auto [kept, made] = answers_.try_emplace(question);
    bytes_ -= made ? 0 : bytesOf(kept->second);
    kept->second = std::move(answer);
    bytes_ += bytesOf(kept->second);
    return kept->second;
  }
  void forget(const Question& question) {
    const auto found = answers_.find(question);
    if (found == answers_.end()) return;
    bytes_ -= bytesOf(found->second);
    answers_.erase(found);
  }
  void clear() {
    answers_.clear();
    bytes_ = 0;
  }
  // About how much memory the kept answers take, empty ones included.
  std::size_t bytes() const { return bytes_; }

 private:
  // An answer's ids, and its entry: the question, the vector and the hash
  // table's node and bucket.
  static std::size_t bytesOf(const Ids& answer) {
    return answer.capacity() * sizeof(ObjectId) + sizeof(Question) + sizeof(Ids) + 32;
  }

  std::unordered_map<Question, Ids, Hash> answers_;
  std::size_t bytes_ = 0;
};
