#pragma once

// A set of object numbers kept as runs of consecutive numbers: what a call
// makes is numbered one after another, so a million objects made by one
// import take one run, not a million entries.

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "store/vorn_types.h"

class IdRuns {
 public:
  void insert(ObjectId id) {
    if (runs_.empty() || id > runs_.back().last + 1) {
      runs_.push_back({id, id});
    } else if (id == runs_.back().last + 1) {
      ++runs_.back().last;
    } else if (!contains(id)) {
      // Out of order: a run of its own, joined to its neighbours.
      const auto at =
          std::lower_bound(runs_.begin(), runs_.end(), id,
                           [](const Run& run, ObjectId wanted) { return run.last < wanted; });
      const auto made = runs_.insert(at, {id, id});
      const std::size_t index = static_cast<std::size_t>(made - runs_.begin());
      if (index + 1 < runs_.size() && runs_[index + 1].first == id + 1) {
        runs_[index].last = runs_[index + 1].last;
        runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(index) + 1);
      }
      if (index > 0 && runs_[index - 1].last + 1 == id) {
        runs_[index - 1].last = runs_[index].last;
        runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(index));
      }
    } else {
      return;
    }
    ++size_;
  }

  bool contains(ObjectId id) const {
    const auto at =
        std::lower_bound(runs_.begin(), runs_.end(), id,
                         [](const Run& run, ObjectId wanted) { return run.last < wanted; });
    return at != runs_.end() && at->first <= id;
  }

  // How many numbers of the set are below `id`.
  std::size_t rankOf(ObjectId id) const {
    std::size_t below = 0;
    for (const Run& run : runs_) {
      if (run.first >= id) break;
      below += std::min(id, run.last + 1) - run.first;
    }
    return below;
  }

  bool empty() const { return runs_.empty(); }
  std::size_t size() const { return size_; }
  void clear() {
    runs_.clear();
    size_ = 0;
  }

 private:
  struct Run {
    ObjectId first;
    ObjectId last;
    friend bool operator==(const Run&, const Run&) = default;
  };

 public:
  friend bool operator==(const IdRuns&, const IdRuns&) = default;

 private:
  std::vector<Run> runs_;  // ascending, apart
  std::size_t size_ = 0;
};
