#include "platform/qovix_srv/store_view.h"

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

std::vector<ObjectId> StoreView::related(ObjectId id, FeatureId forward) const {
  const FeatureId backward = featureInfo(forward).opposite;
  if (backward == 0) {
    throw std::logic_error(std::string("the feature ") + featureInfo(forward).name +
                           " has no opposite end");
  }
  IdSet found;
  found.addAll(members(id, forward));
  found.addAll(referrers(featureInfo(backward).owner, backward, id));
  return found.take();
}

}  // namespace model
