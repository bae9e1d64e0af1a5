#pragma once

// The collection reads of a store that holds each collection it has read as
// an OrderedIdSet. `Store` derives from CollectionReadsOf<Store> and answers
//
//   const OrderedIdSet* collection(ObjectId id, FeatureId feature) const;
//
// (null for a collection never written), opening it to this class as a
// friend.

#include <vector>

#include "store/ordered_id_set.h"
#include "store/persistent_store.h"

template <class Store>
class CollectionReadsOf : public PersistentStore {
 public:
  VornLong memberCount(ObjectId id, FeatureId feature) const override {
    const OrderedIdSet* members = of(id, feature);
    return members != nullptr ? members->size() : 0;
  }

  bool hasMember(ObjectId id, FeatureId feature, ObjectId member) const override {
    const OrderedIdSet* members = of(id, feature);
    return members != nullptr && members->contains(member);
  }

  ObjectId memberAt(ObjectId id, FeatureId feature, VornLong index) const override {
    static const OrderedIdSet none;
    const OrderedIdSet* members = of(id, feature);
    return (members != nullptr ? *members : none).at(index);
  }

  std::vector<ObjectId> members(ObjectId id, FeatureId feature) const override {
    const OrderedIdSet* members = of(id, feature);
    return members != nullptr ? members->ids() : std::vector<ObjectId>{};
  }

  VornLong memberIndex(ObjectId id, FeatureId feature, ObjectId member) const override {
    const OrderedIdSet* members = of(id, feature);
    return members != nullptr ? members->indexOf(member) : -1;
  }

 private:
  const OrderedIdSet* of(ObjectId id, FeatureId feature) const {
    return static_cast<const Store*>(this)->collection(id, feature);
  }
};
