#include "model/qovix_srv/deletion.h"

#include <deque>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/store_view.h"

namespace model {
namespace {

bool isSingle(const FeatureInfo& feature) {
  return feature.kind == FeatureKind::Single || feature.kind == FeatureKind::ReadOnly;
}

// The features of a `classId` object that own what they hold.
const std::vector<FeatureId>& owningFeatures(ClassId classId) {
  static const std::vector<std::vector<FeatureId>> byClass = [] {
    std::vector<std::vector<FeatureId>> made(modelClasses().size() + 1);
    for (const ClassInfo& each : modelClasses()) {
      for (const FeatureInfo& feature : modelFeatures()) {
        if (feature.owns && feature.owner != 0 && conformsTo(each.id, feature.owner)) {
          made[each.id].push_back(feature.id);
        }
      }
    }
    return made;
  }();
  return byClass.at(classId);
}

class Deletion {
 public:
  Deletion(const PersistentStore& store, std::size_t most) : view_(store), most_(most) {}

  std::vector<ObjectId> of(ObjectId root) {
    waiting_.push_back(root);
    while (!waiting_.empty()) {
      const ObjectId next = waiting_.front();
      waiting_.pop_front();
      if (going_.contains(next) || !view_.store().exists(next)) continue;
      going_.add(next);
      if (going_.ids().size() > most_) {
        throw std::length_error("deleting it would delete more than " + std::to_string(most_) +
                                " objects, the most one call may change");
      }
      takeOwned(next);
      takeDependents(next);
    }
    return going_.take();
  }

 private:
  void takeOwned(ObjectId id) {
    for (FeatureId owning : owningFeatures(view_.classOf(id))) {
      for (ObjectId owned : view_.ends(id, owning)) waiting_.push_back(owned);
    }
  }

  // The objects that need `id` at one of their ends, and now lack it.
  void takeDependents(ObjectId id) {
    for (const auto& [feature, referrer] : view_.store().referencesTo(id)) {
      consider(referrer, featureInfo(feature));
    }
    // The same relations recorded only on this object's end.
    for (FeatureId written : view_.writtenFeatures(id)) {
      const FeatureInfo& mine = featureInfo(written);
      if (mine.opposite == 0 || featureInfo(mine.opposite).needs == 0) continue;
      const FeatureInfo& theirs = featureInfo(mine.opposite);
      for (ObjectId other : view_.held(id, mine.id)) {
        if (view_.is(other, theirs.owner)) consider(other, theirs);
      }
    }
  }

  void consider(ObjectId holder, const FeatureInfo& end) {
    if (end.needs == 0 || going_.contains(holder)) return;
    std::size_t left = 0;
    for (ObjectId each : view_.ends(holder, end.id)) {
      if (!going_.contains(each)) ++left;
    }
    if (left < end.needs) waiting_.push_back(holder);
  }

  StoreView view_;
  std::size_t most_;
  IdSet going_;
  std::deque<ObjectId> waiting_;
};

}  // namespace

std::vector<ObjectId> deletionOf(const PersistentStore& store, ObjectId root, std::size_t most) {
  return Deletion(store, most).of(root);
}

void deleteObjects(PersistentStore& store, const std::vector<ObjectId>& going) {
  const std::unordered_set<ObjectId> gone(going.begin(), going.end());
  for (ObjectId id : going) {
    for (const auto& [feature, referrer] : store.referencesTo(id)) {
      if (gone.count(referrer) != 0) continue;  // removed with it
      if (isSingle(featureInfo(feature))) {
        store.setReference(referrer, feature, 0);
      } else {
        store.removeMember(referrer, feature, id);
      }
    }
  }
  for (ObjectId id : going) store.removeObject(id);
}

}  // namespace model
