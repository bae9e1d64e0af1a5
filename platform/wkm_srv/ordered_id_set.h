#pragma once

// The members of one object collection: ordered, without duplicates, with
// membership tests, adds and removals by member in constant time on average
// however large the collection grows.
//
// Removing a member leaves a hole that the next access by index closes in
// one pass, so a run of removals costs one pass, not one per removal; holes
// are also closed whenever they would outnumber the members.

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "platform/wkm_srv/vorn_types.h"
#include "platform/wkm_srv/wkm_srv_api.h"

class WKM_SRV_API OrderedIdSet {
 public:
  VornLong size() const { return static_cast<VornLong>(position_.size()); }
  bool empty() const { return position_.empty(); }
  bool contains(ObjectId id) const { return position_.count(id) != 0; }

  // Adds `id` at the end; false when it is already a member.
  bool append(ObjectId id);
  // Adds `id` before the member at `position` (size() appends); false when
  // it is already a member. Throws std::out_of_range outside 0..size().
  bool insertAt(ObjectId id, VornLong position);
  // Removes `id`; false when it was no member.
  bool remove(ObjectId id);
  // Removes the member at `index`; throws std::out_of_range outside the
  // collection.
  void removeAt(VornLong index);
  // The member at `index`; throws std::out_of_range outside the collection.
  ObjectId at(VornLong index) const;
  void clear();
  // The members in order.
  std::vector<ObjectId> ids() const;

 private:
  void closeHoles() const;
  std::size_t checkedIndex(VornLong index, std::size_t limit) const;

  static constexpr ObjectId kHole = 0;
  mutable std::vector<ObjectId> order_;
  mutable std::unordered_map<ObjectId, std::size_t> position_;
  mutable std::size_t holes_ = 0;
};
