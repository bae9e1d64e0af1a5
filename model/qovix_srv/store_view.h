#pragma once

// How the class operations read the store: by object id, with the inverse
// look-ups (which objects refer to this one) that let an operation find a
// relation from whichever end a client recorded it.

#include <string>
#include <unordered_set>
#include <vector>

#include "model/qovix_srv/model_metadata.h"
#include "store/persistent_store.h"

namespace model {

// Ids in the order first added, each once.
class IdSet {
 public:
  bool add(ObjectId id) {
    if (id == 0 || !seen_.insert(id).second) return false;
    ids_.push_back(id);
    return true;
  }
  void addAll(const std::vector<ObjectId>& ids) {
    for (ObjectId id : ids) add(id);
  }
  bool contains(ObjectId id) const { return seen_.count(id) != 0; }
  const std::vector<ObjectId>& ids() const { return ids_; }
  std::vector<ObjectId> take() { return std::move(ids_); }

 private:
  std::vector<ObjectId> ids_;
  std::unordered_set<ObjectId> seen_;
};

class StoreView {
 public:
  explicit StoreView(const PersistentStore& store) : store_(store) {}

  ClassId classOf(ObjectId id) const { return store_.classOf(id); }
  bool is(ObjectId id, ClassId classId) const { return conformsTo(classOf(id), classId); }

  std::vector<ObjectId> members(ObjectId id, FeatureId feature) const {
    return store_.members(id, feature);
  }
  bool holds(ObjectId id, FeatureId feature, ObjectId member) const {
    return store_.hasMember(id, feature, member);
  }
  ObjectId reference(ObjectId id, FeatureId feature) const { return store_.reference(id, feature); }
  std::vector<FeatureId> writtenFeatures(ObjectId id) const { return store_.writtenFeatures(id); }
  std::u16string text(ObjectId id, FeatureId feature) const {
    const auto value = store_.value(id, feature);
    return value ? value->text : std::u16string();
  }
  std::int32_t number(ObjectId id, FeatureId feature) const {
    const auto value = store_.value(id, feature);
    return value ? value->number : 0;
  }

  // The `sourceClass` objects whose `feature` (a collection or a single
  // reference) holds `target`, from the store's index of referrers.
  std::vector<ObjectId> referrers(ClassId sourceClass, FeatureId feature, ObjectId target) const;
  // What `id`'s slot `feature` holds: its single reference, or its members.
  std::vector<ObjectId> held(ObjectId id, FeatureId feature) const;
  // That, and the objects whose opposite end (the catalogue's) holds `id`:
  // one relation read from both of its ends (a feature without an opposite
  // end has only its slot).
  std::vector<ObjectId> ends(ObjectId id, FeatureId feature) const;
  // The same for a collection that has an opposite end. Throws
  // std::logic_error for a feature without one.
  std::vector<ObjectId> related(ObjectId id, FeatureId forward) const;

  const PersistentStore& store() const { return store_; }

 private:
  const PersistentStore& store_;
};

}  // namespace model
