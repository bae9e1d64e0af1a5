#pragma once

// The objects a cached store has read from its rows or made, each whole,
// latest used first, and about how much memory they take: the part of the
// store that keeps them and lets go of the one used least lately. What the
// objects mean, and when they are stale, is the store's (cached_store.cpp).

#include <cstddef>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/ordered_id_set.h"
#include "store/persistent_store.h"

// What the cache holds of one object: its class, its value and reference
// slots and which of its collections and value lists the file holds rows
// of, all read at once on first use; and the collections and value lists
// read or written so far. A collection the file holds nothing of is never
// asked of the file, nor kept.
struct CachedObject {
  ClassId classId = 0;
  std::vector<std::pair<FeatureId, StoredValue>> values;
  std::vector<std::pair<FeatureId, ObjectId>> references;
  std::vector<FeatureId> filedCollections;
  std::vector<FeatureId> filedValueLists;
  std::unordered_map<FeatureId, OrderedIdSet> collections;
  std::unordered_map<FeatureId, std::vector<StoredValue>> valueLists;
  // What refers to it (feature, referrer), sorted, when read with it: valid
  // while incomingEpoch is the store's epoch.
  std::vector<std::pair<FeatureId, ObjectId>> incoming;
  std::uint64_t incomingEpoch = 0;
  bool created = false;   // made by this process: nothing of it is in the file unread
  std::size_t bytes = 0;  // about how much memory all this takes
  std::list<ObjectId>::iterator recency;  // its place among the cached, latest used first
};

// How much memory the cache's parts take, their containers' nodes and the
// allocator's overhead included, as measured with mallinfo2 on glibc: an
// object's entry (its hash table node and place in the recency list), a
// value, a feature the file holds rows of, a collection's own allocations,
// and a member.
inline constexpr std::size_t kObjectBytes = sizeof(CachedObject) + 64;
inline constexpr std::size_t kFiledFeatureBytes = 24;
inline constexpr std::size_t kCollectionBytes = sizeof(OrderedIdSet) + 300;
inline constexpr std::size_t kMemberBytes = 48;
inline std::size_t bytesOf(const StoredValue& value) {
  return sizeof(std::pair<FeatureId, StoredValue>) + 40 + value.text.capacity() * sizeof(char16_t);
}

class ObjectCache {
 public:
  // The object, now the one used last; null when it is not held.
  CachedObject* use(ObjectId id);
  // The object, as used as it was; null when it is not held.
  CachedObject* find(ObjectId id);
  bool holds(ObjectId id) const { return objects_.count(id) != 0; }
  // Holds an object read or made, of `bytes`; false, holding nothing, when
  // one of that number is held already.
  bool keep(ObjectId id, CachedObject object, std::size_t bytes);
  // Lets go of the object, when it is held.
  void forget(ObjectId id);
  void forgetAll();
  // What a held object took or gave back since it was kept.
  void grow(CachedObject& object, std::size_t bytes);
  void shrink(CachedObject& object, std::size_t bytes);
  // About how much memory the held objects take.
  std::size_t bytes() const { return bytes_; }
  // Lets go of the objects used least lately until they and `others` (what
  // else the store keeps) take no more than `bound`.
  void trimTo(std::size_t bound, std::size_t others);

 private:
  std::unordered_map<ObjectId, CachedObject> objects_;
  std::list<ObjectId> recency_;  // the held objects, latest used first
  std::size_t bytes_ = 0;
};
