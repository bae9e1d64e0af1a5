#pragma once

// Answers the store has read from the file's indexes, kept by question
// until a change could alter them: the store forgets a question's answer
// whenever it writes something that question asks about.

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "platform/wkm_srv/vorn_types.h"

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
    ids_ += answer.size();
    Ids& kept = answers_[question];
    ids_ -= kept.size();
    kept = std::move(answer);
    return kept;
  }
  void forget(const Question& question) {
    const auto found = answers_.find(question);
    if (found == answers_.end()) return;
    ids_ -= found->second.size();
    answers_.erase(found);
  }
  void clear() {
    answers_.clear();
    ids_ = 0;
  }
  // How many ids all the kept answers hold.
  std::size_t size() const { return ids_; }

 private:
  std::unordered_map<Question, Ids, Hash> answers_;
  std::size_t ids_ = 0;
};
