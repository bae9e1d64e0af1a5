#include "model/qovix_srv/store_view.h"

#include <stdexcept>
#include <string>

namespace model {

std::vector<ObjectId> StoreView::referrers(ClassId sourceClass, FeatureId feature,
                                           ObjectId target) const {
  std::vector<ObjectId> found;
  for (ObjectId source : store_.referrers(feature, target)) {
    if (is(source, sourceClass)) found.push_back(source);
  }
  return found;
}

std::vector<ObjectId> StoreView::held(ObjectId id, FeatureId feature) const {
  const FeatureKind kind = featureInfo(feature).kind;
  if (kind != FeatureKind::Single && kind != FeatureKind::ReadOnly) return members(id, feature);
  const ObjectId target = reference(id, feature);
  return target != 0 ? std::vector<ObjectId>{target} : std::vector<ObjectId>{};
}

std::vector<ObjectId> StoreView::ends(ObjectId id, FeatureId feature) const {
  const FeatureId backward = featureInfo(feature).opposite;
  IdSet found;
  found.addAll(held(id, feature));
  if (backward != 0) found.addAll(referrers(featureInfo(backward).owner, backward, id));
  return found.take();
}

std::vector<ObjectId> StoreView::related(ObjectId id, FeatureId forward) const {
  if (featureInfo(forward).opposite == 0) {
    throw std::logic_error(std::string("the feature ") + featureInfo(forward).name +
                           " has no opposite end");
  }
  return ends(id, forward);
}

}  // namespace model
