#include "platform/wkm_srv/ordered_id_set.h"

#include <stdexcept>
#include <string>

std::size_t OrderedIdSet::checkedIndex(VornLong index, std::size_t limit) const {
  if (index < 0 || static_cast<std::size_t>(index) >= limit) {
    throw std::out_of_range("index " + std::to_string(index) + " is outside 0.." +
                            std::to_string(static_cast<long long>(limit) - 1));
  }
  return static_cast<std::size_t>(index);
}

OrderedIdSet::Link OrderedIdSet::newNode(ObjectId id) {
  // xorshift32: priorities only need to look random to keep the tree shallow.
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  const Node node{id, random_};
  if (!free_.empty()) {
    const Link reused = free_.back();
    free_.pop_back();
    nodes_[reused] = node;
    return reused;
  }
  nodes_.push_back(node);
  return static_cast<Link>(nodes_.size() - 1);
}

void OrderedIdSet::attach(Link parent, Link left, Link right) {
  Node& node = nodes_[parent];
  node.left = left;
  node.right = right;
  node.count = 1 + countOf(left) + countOf(right);
  if (left != kNone) nodes_[left].parent = parent;
  if (right != kNone) nodes_[right].parent = parent;
}

void OrderedIdSet::split(Link tree, std::uint32_t count, Link& first, Link& rest) {
  if (tree == kNone) {
    first = rest = kNone;
    return;
  }
  const Node node = nodes_[tree];
  if (countOf(node.left) >= count) {
    Link restLeft = kNone;
    split(node.left, count, first, restLeft);
    attach(tree, restLeft, node.right);
    rest = tree;
  } else {
    Link firstRight = kNone;
    split(node.right, count - countOf(node.left) - 1, firstRight, rest);
    attach(tree, node.left, firstRight);
    first = tree;
  }
  if (first != kNone) nodes_[first].parent = kNone;
  if (rest != kNone) nodes_[rest].parent = kNone;
}

OrderedIdSet::Link OrderedIdSet::merge(Link first, Link rest) {
  if (first == kNone) return rest;
  if (rest == kNone) return first;
  if (nodes_[first].priority > nodes_[rest].priority) {
    attach(first, nodes_[first].left, merge(nodes_[first].right, rest));
    nodes_[first].parent = kNone;
    return first;
  }
  attach(rest, merge(first, nodes_[rest].left), nodes_[rest].right);
  nodes_[rest].parent = kNone;
  return rest;
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
