#pragma once

// The history as both databases keep it: with each commit_object row (one
// object a commit touched), that object's changes in the commit, as bytes
// in its `changes` column. Each change carries its step, its place among
// all the commit's changes, so that a commit's changes come back in the
// order made. What the bytes hold is checked as they are read: damaged
// bytes are a StoreError, never a wrong change.
//
// Each change: its step, kind, feature, position (signed), target before
// and target after, each a big-endian 32-bit word; then the values before
// and the values after, each list a count and, for each value, its value
// class, its number and its text's length in UTF-16 units (words), then
// the units, two big-endian bytes each. An object without changes kept has
// SQL NULL.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/persistent_store.h"

// One change with its place in the commit.
struct NumberedChange {
  std::uint32_t step = 0;
  SlotChange change;
};

// A commit's changes (in order, the first numbered `firstStep`), as bytes,
// object by object.
std::unordered_map<ObjectId, std::string> encodeChanges(const std::vector<SlotChange>& changes,
                                                        std::uint32_t firstStep = 0);

// A commit's history as bytes, object by object: its changes, and the
// making of each object it made briefly (CommitRecord::madeBriefly), which
// are spelled out here, one object at a time.
class CommitHistory {
 public:
  explicit CommitHistory(const CommitRecord& record);
  // The bytes of the object's changes; empty for none.
  std::string bytesOf(const TouchedObject& touched) const;

 private:
  const CommitRecord& record_;
  std::unordered_map<ObjectId, std::string> changes_;
};
// The changes the bytes hold, of `object`. Throws StoreError for bytes no
// changes encode.
std::vector<NumberedChange> decodeChanges(ObjectId object, std::string_view bytes);
// Changes read object by object, in the commit's order.
std::vector<SlotChange> inCommitOrder(std::vector<NumberedChange> changes);

// The first `most` changes of a commit, in its order, gathered from its
// objects' changes read one object at a time: it holds no more than twice
// `most` of them at once, whatever the commit's size, and counts the rest.
class FirstChanges {
 public:
  explicit FirstChanges(std::size_t most) : most_(most) {}
  void add(std::vector<NumberedChange> changes);
  // The record's changes, in commit order, and the count of the rest.
  void into(CommitRecord& record) &&;

 private:
  void keepFirst();

  std::size_t most_;
  std::vector<NumberedChange> kept_;
  std::size_t leftOut_ = 0;
};

// Whether an object's changes in one commit (its bytes; null where not
// kept) change its slot `feature`, or for nothing anything of it. Changes
// not kept might have.
bool changesSlot(ObjectId object, std::optional<FeatureId> feature, const std::string_view* bytes);
