#include "model/qovix_srv/ownership.h"

#include <map>
#include <vector>

#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/store_view.h"

namespace model {

namespace {

// The features of a `classId` object that name what owns it.
const std::vector<FeatureId>& ownerEnds(ClassId classId) {
  static std::map<ClassId, std::vector<FeatureId>> found;
  if (const auto cached = found.find(classId); cached != found.end()) return cached->second;
  std::vector<FeatureId> ends;
  for (const FeatureInfo& feature : modelFeatures()) {
    if (feature.owner != 0 && feature.opposite != 0 && featureInfo(feature.opposite).owns &&
        conformsTo(classId, feature.owner)) {
      ends.push_back(feature.id);
    }
  }
  return found[classId] = std::move(ends);
}

}  // namespace

std::unordered_set<ObjectId> ownersAbove(const PersistentStore& store, ObjectId id) {
  const StoreView view(store);
  std::unordered_set<ObjectId> found;
  std::vector<ObjectId> next{id};
  while (!next.empty()) {
    const ObjectId at = next.back();
    next.pop_back();
    for (const FeatureId end : ownerEnds(store.classOf(at))) {
      for (const ObjectId owner : view.ends(at, end)) {
        if (owner != 0 && found.insert(owner).second) next.push_back(owner);
      }
    }
  }
  return found;
}

}  // namespace model
