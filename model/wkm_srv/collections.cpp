#include "model/wkm_srv/collections.h"

VornCollection::~VornCollection() = default;

ObjectId VornCollection::idAt(VornLong index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= ids_.size()) {
    throw std::out_of_range("index " + std::to_string(index) + " is outside the " +
                            std::to_string(ids_.size()) + " members");
  }
  return ids_[static_cast<std::size_t>(index)];
}
