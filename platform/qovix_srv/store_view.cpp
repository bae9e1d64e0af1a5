#include "platform/qovix_srv/store_view.h"

namespace model {

std::vector<ObjectId> StoreView::referrers(ClassId sourceClass, FeatureId feature,
                                           ObjectId target) const {
  std::vector<ObjectId> found;
  for (ObjectId source : store_.referrers(feature, target)) {
    if (is(source, sourceClass)) found.push_back(source);
  }
  return found;
}

std::vector<ObjectId> StoreView::related(ObjectId id, FeatureId forward, ClassId sourceClass,
                                         FeatureId backward) const {
  IdSet found;
  found.addAll(members(id, forward));
  found.addAll(referrers(sourceClass, backward, id));
  return found.take();
}

}  // namespace model
