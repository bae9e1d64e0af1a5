#include "store/ordered_id_set.h"

#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <stdexcept>
#include <string>

std::size_t OrderedIdSet::checkedIndex(VornLong index, std::size_t limit) const {
  if (index < 0 || static_cast<std::size_t>(index) >= limit) {
    throw std::out_of_range("index " + std::to_string(index) + " is outside 0.." +
                            std::to_string(static_cast<long long>(limit) - 1));
  }
  return static_cast<std::size_t>(index);
}

namespace {

// splitmix64's output step: a bijection that scatters neighbouring inputs.
std::uint64_t mixed(std::uint64_t value) {
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
  return value ^ (value >> 31);
}

// A different seed for every set, none of which a client can foresee: a
// secret drawn from the system once, mixed with a count of the sets made.
std::uint64_t freshSeed() {
  static const std::uint64_t secret = [] {
    std::uint64_t drawn = 0;
    if (getrandom(&drawn, sizeof drawn, 0) != static_cast<ssize_t>(sizeof drawn)) {
      drawn = std::random_device{}();
      drawn = drawn << 32 ^ std::random_device{}();
    }
    return drawn;
  }();
  static std::atomic<std::uint64_t> made{0};
  return mixed(secret + 0x9E3779B97F4A7C15u * made.fetch_add(1, std::memory_order_relaxed));
}

}  // namespace

OrderedIdSet::OrderedIdSet() : random_(freshSeed()) {}

std::uint32_t OrderedIdSet::nextPriority() {
  random_ += 0x9E3779B97F4A7C15u;
  return static_cast<std::uint32_t>(mixed(random_) >> 32);
}

OrderedIdSet::Link OrderedIdSet::newNode(ObjectId id) {
  const Node node{id, nextPriority()};
  if (!free_.empty()) {
    const Link reused = free_.back();
    free_.pop_back();
    nodes_[reused] = node;
    return reused;
  }
  nodes_.push_back(node);
  return static_cast<Link>(nodes_.size() - 1);
}

void OrderedIdSet::recountUpwards(Link node) {
  for (; node != kNone; node = nodes_[node].parent) {
    nodes_[node].count = 1 + countOf(nodes_[node].left) + countOf(nodes_[node].right);
  }
}

// Walks down once, handing each node to the side it belongs to: a node of
// the first part keeps its left subtree and waits for a right one, a node of
// the rest keeps its right subtree and waits for a left one.
void OrderedIdSet::split(Link tree, std::uint32_t count, Link& first, Link& rest) {
  Link* firstHole = &first;
  Link* restHole = &rest;
  Link firstLast = kNone, restLast = kNone;
  while (tree != kNone) {
    Node& node = nodes_[tree];
    const bool toRest = countOf(node.left) >= count;
    const Link next = toRest ? node.left : node.right;
    if (toRest) {
      *restHole = tree;
      node.parent = restLast;
      restLast = tree;
      restHole = &node.left;
    } else {
      count -= countOf(node.left) + 1;
      *firstHole = tree;
      node.parent = firstLast;
      firstLast = tree;
      firstHole = &node.right;
    }
    tree = next;
  }
  *firstHole = kNone;
  *restHole = kNone;
  recountUpwards(firstLast);
  recountUpwards(restLast);
}

// Walks down the right edge of `first` and the left edge of `rest` at once,
// taking the higher priority each step.
OrderedIdSet::Link OrderedIdSet::merge(Link first, Link rest) {
  Link root = kNone;
  Link* hole = &root;
  Link last = kNone;
  while (first != kNone && rest != kNone) {
    const bool firstOnTop = nodes_[first].priority > nodes_[rest].priority;
    const Link top = firstOnTop ? first : rest;
    *hole = top;
    nodes_[top].parent = last;
    last = top;
    if (firstOnTop) {
      hole = &nodes_[top].right;
      first = nodes_[top].right;
    } else {
      hole = &nodes_[top].left;
      rest = nodes_[top].left;
    }
  }
  *hole = first != kNone ? first : rest;
  if (*hole != kNone) nodes_[*hole].parent = last;
  recountUpwards(last);
  return root;
}

bool OrderedIdSet::insertAt(ObjectId id, VornLong position) {
  const std::size_t at = checkedIndex(position, node_.size() + 1);
  if (contains(id)) return false;
  const Link node = newNode(id);
  try {
    node_.emplace(id, node);
  } catch (...) {
    free_.push_back(node);
    throw;
  }
  Link first = kNone, rest = kNone;
  split(root_, static_cast<std::uint32_t>(at), first, rest);
  root_ = merge(merge(first, node), rest);
  return true;
}

bool OrderedIdSet::remove(ObjectId id) {
  const auto found = node_.find(id);
  if (found == node_.end()) return false;
  const Link node = found->second;
  // The removed node's place is taken by its two subtrees merged; the counts
  // above it shrink by one.
  const Link parent = nodes_[node].parent;
  const Link joined = merge(nodes_[node].left, nodes_[node].right);
  if (joined != kNone) nodes_[joined].parent = parent;
  if (parent == kNone) {
    root_ = joined;
  } else {
    Node& above = nodes_[parent];
    (above.left == node ? above.left : above.right) = joined;
    for (Link each = parent; each != kNone; each = nodes_[each].parent) --nodes_[each].count;
  }
  node_.erase(found);
  free_.push_back(node);
  if (node_.empty()) clear();  // gives the nodes back
  return true;
}

ObjectId OrderedIdSet::at(VornLong index) const {
  auto left = static_cast<std::uint32_t>(checkedIndex(index, node_.size()));
  Link node = root_;
  for (;;) {
    const std::uint32_t before = countOf(nodes_[node].left);
    if (left < before) {
      node = nodes_[node].left;
    } else if (left == before) {
      return nodes_[node].id;
    } else {
      left -= before + 1;
      node = nodes_[node].right;
    }
  }
}

VornLong OrderedIdSet::indexOf(ObjectId id) const {
  const auto found = node_.find(id);
  if (found == node_.end()) return -1;
  Link node = found->second;
  std::uint32_t index = countOf(nodes_[node].left);
  for (Link parent = nodes_[node].parent; parent != kNone;
       node = parent, parent = nodes_[node].parent) {
    if (nodes_[parent].right == node) index += countOf(nodes_[parent].left) + 1;
  }
  return static_cast<VornLong>(index);
}

void OrderedIdSet::clear() {
  nodes_.assign(1, Node{0, 0});
  free_.clear();
  node_.clear();
  root_ = kNone;
}

std::vector<ObjectId> OrderedIdSet::ids() const {
  std::vector<ObjectId> out;
  out.reserve(node_.size());
  std::vector<Link> path;
  for (Link node = root_; node != kNone || !path.empty();) {
    if (node != kNone) {
      path.push_back(node);
      node = nodes_[node].left;
      continue;
    }
    node = path.back();
    path.pop_back();
    out.push_back(nodes_[node].id);
    node = nodes_[node].right;
  }
  return out;
}

std::size_t OrderedIdSet::height() const {
  std::size_t highest = 0;
  std::vector<std::pair<Link, std::size_t>> pending;
  if (root_ != kNone) pending.emplace_back(root_, 1);
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    highest = std::max(highest, depth);
    if (nodes_[node].left != kNone) pending.emplace_back(nodes_[node].left, depth + 1);
    if (nodes_[node].right != kNone) pending.emplace_back(nodes_[node].right, depth + 1);
  }
  return highest;
}
