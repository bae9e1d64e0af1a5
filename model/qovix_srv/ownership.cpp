#include "model/qovix_srv/ownership.h"

#include <map>
#include <vector>

#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/store_view.h"

namespace model {

namespace {

// How a `classId` object's owners are found: the features of its own that
// name its owner (the opposite end of a composite feature), and the
// composite features without an opposite end that can hold it, read from
// the store's index of referrers.
struct OwnerWays {
  std::vector<FeatureId> ownerEnds;
  std::vector<FeatureId> oneWayOwning;
};

const OwnerWays& ownerWays(ClassId classId) {
  static const std::vector<OwnerWays> byClass = [] {
    std::vector<OwnerWays> made(modelClasses().size() + 1);
    for (const ClassInfo& each : modelClasses()) {
      for (const FeatureInfo& feature : modelFeatures()) {
        if (feature.owner != 0 && feature.opposite != 0 && featureInfo(feature.opposite).owns &&
            conformsTo(each.id, feature.owner)) {
          made[each.id].ownerEnds.push_back(feature.id);
        }
        if (feature.owns && feature.opposite == 0 && feature.elementClass != 0 &&
            conformsTo(each.id, feature.elementClass)) {
          made[each.id].oneWayOwning.push_back(feature.id);
        }
      }
    }
    return made;
  }();
  return byClass.at(classId);
}

// The objects that own `id` directly, each once or more.
template <typename Visit>
void visitOwners(const StoreView& view, ObjectId id, Visit visit) {
  const OwnerWays& ways = ownerWays(view.classOf(id));
  for (const FeatureId end : ways.ownerEnds) {
    for (const ObjectId owner : view.ends(id, end)) {
      if (owner != 0 && !visit(owner)) return;
    }
  }
  for (const FeatureId owning : ways.oneWayOwning) {
    for (const ObjectId owner : view.store().referrers(owning, id)) {
      if (!visit(owner)) return;
    }
  }
}

}  // namespace

std::unordered_set<ObjectId> ownersAbove(const PersistentStore& store, ObjectId id) {
  const StoreView view(store);
  std::unordered_set<ObjectId> found;
  std::vector<ObjectId> next{id};
  while (!next.empty()) {
    const ObjectId at = next.back();
    next.pop_back();
    visitOwners(view, at, [&](ObjectId owner) {
      if (found.insert(owner).second) next.push_back(owner);
      return true;
    });
  }
  return found;
}

bool isOwned(const PersistentStore& store, ObjectId id) {
  bool owned = false;
  visitOwners(StoreView(store), id, [&](ObjectId) {
    owned = true;
    return false;
  });
  return owned;
}

}  // namespace model
