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

void OrderedIdSet::closeHoles() const {
  if (holes_ == 0) return;
  std::size_t next = 0;
  for (ObjectId id : order_) {
    if (id == kHole) continue;
    position_[id] = next;
    order_[next++] = id;
  }
  order_.resize(next);
  holes_ = 0;
}

bool OrderedIdSet::append(ObjectId id) {
  if (contains(id)) return false;
  position_.emplace(id, order_.size());
  order_.push_back(id);
  return true;
}

bool OrderedIdSet::insertAt(ObjectId id, VornLong position) {
  const std::size_t at = checkedIndex(position, position_.size() + 1);
  if (contains(id)) return false;
  if (at == position_.size()) return append(id);
  closeHoles();
  order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(at), id);
  for (std::size_t i = at; i < order_.size(); ++i) position_[order_[i]] = i;
  return true;
}

bool OrderedIdSet::remove(ObjectId id) {
  const auto found = position_.find(id);
  if (found == position_.end()) return false;
  order_[found->second] = kHole;
  position_.erase(found);
  ++holes_;
  if (position_.empty()) {
    clear();
  } else if (holes_ > position_.size()) {
    closeHoles();  // holes never outnumber members, so memory stays in step
  }
  return true;
}

void OrderedIdSet::removeAt(VornLong index) { remove(at(index)); }

ObjectId OrderedIdSet::at(VornLong index) const {
  const std::size_t checked = checkedIndex(index, position_.size());
  closeHoles();
  return order_[checked];
}

void OrderedIdSet::clear() {
  order_.clear();
  position_.clear();
  holes_ = 0;
}

std::vector<ObjectId> OrderedIdSet::ids() const {
  closeHoles();
  return order_;
}
