#pragma once

// The members of one object collection: ordered, without duplicates. Every
// operation takes logarithmic time however large the collection grows:
// membership by a hash of the members, positions by a tree that counts the
// members below each node (a treap ordered by position), so inserting at a
// position, removing a member and reading the member at an index never
// renumber the rest. The treap's priorities come from a generator seeded
// with the system's randomness, so no order of positions a client chooses
// can predict them and lengthen the tree; every walk of the tree is a loop,
// so the stack never grows with the collection.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "store/vorn_types.h"
#include "store/store_api.h"

class STORE_API OrderedIdSet {
 public:
  OrderedIdSet();

  VornLong size() const { return static_cast<VornLong>(node_.size()); }
  bool empty() const { return node_.empty(); }
  bool contains(ObjectId id) const { return node_.count(id) != 0; }

  // Adds `id` at the end; false when it is already a member.
  bool append(ObjectId id) { return insertAt(id, size()); }
  // Adds `id` before the member at `position` (size() appends); false when
  // it is already a member. Throws std::out_of_range outside 0..size().
  bool insertAt(ObjectId id, VornLong position);
  // Removes `id`; false when it was no member.
  bool remove(ObjectId id);
  // Removes the member at `index`; throws std::out_of_range outside the
  // collection.
  void removeAt(VornLong index) { remove(at(index)); }
  // The member at `index`; throws std::out_of_range outside the collection.
  ObjectId at(VornLong index) const;
  // Where `id` stands; -1 when it is no member.
  VornLong indexOf(ObjectId id) const;
  void clear();
  // The members in order.
  std::vector<ObjectId> ids() const;
  // The number of nodes on the longest path from the root: about 2 ln n
  // expected, whatever order the members came in.
  std::size_t height() const;

 private:
  using Link = std::uint32_t;
  static constexpr Link kNone = 0;  // nodes_[0] is never used
  struct Node {
    ObjectId id;
    std::uint32_t priority;
    Link left = kNone, right = kNone, parent = kNone;
    std::uint32_t count = 1;  // this node and those below it
  };

  std::uint32_t countOf(Link node) const { return node == kNone ? 0 : nodes_[node].count; }
  void attach(Link parent, Link left, Link right);
  // Recounts `node` and each node above it, up to the top of its tree.
  void recountUpwards(Link node);
  // Splits `tree` into its first `count` members and the rest.
  void split(Link tree, std::uint32_t count, Link& first, Link& rest);
  // Joins two trees whose members all stand in `first` before `rest`.
  Link merge(Link first, Link rest);
  Link newNode(ObjectId id);
  std::uint32_t nextPriority();
  std::size_t checkedIndex(VornLong index, std::size_t limit) const;

  std::vector<Node> nodes_{Node{0, 0}};
  std::vector<Link> free_;
  std::unordered_map<ObjectId, Link> node_;
  Link root_ = kNone;
  std::uint64_t random_;  // the priority generator's state, seeded per set
};
