#include "interchange/xmi/ownership_circles.h"

#include <algorithm>
#include <unordered_map>

#include "model/qovix_srv/model_metadata.h"

namespace model::xmi {

namespace {

struct Link {
  ObjectId owned;
  FeatureId owns;  // the owner's composite feature
};

bool single(const FeatureInfo& feature) {
  return feature.kind == FeatureKind::Single || feature.kind == FeatureKind::ReadOnly;
}

void removeFrom(PersistentStore& store, ObjectId id, FeatureId slot, ObjectId target) {
  const FeatureInfo& feature = featureInfo(slot);
  if (!single(feature)) {
    store.removeMember(id, slot, target);
  } else if (store.reference(id, slot) == target) {
    store.setReference(id, slot, 0);
  }
}

}  // namespace

std::optional<OwnershipLink> ownershipLinkOf(ObjectId from, FeatureId feature, ObjectId to) {
  const FeatureInfo& info = featureInfo(feature);
  if (info.owns) return OwnershipLink{from, to, feature};
  if (info.opposite != 0 && featureInfo(info.opposite).owns) {
    return OwnershipLink{to, from, info.opposite};
  }
  return std::nullopt;
}

std::size_t cutOwnershipCircles(PersistentStore& store, std::vector<OwnershipLink> made) {
  // A link noted at both of its ends is kept once.
  std::sort(made.begin(), made.end());
  made.erase(std::unique(made.begin(), made.end()), made.end());
  std::unordered_map<ObjectId, std::vector<Link>> links;
  std::vector<ObjectId> objects;
  for (const OwnershipLink& link : made) {
    if (links.find(link.owner) == links.end()) objects.push_back(link.owner);
    links[link.owner].push_back({link.owned, link.owns});
  }
  enum class Mark { Unseen, Open, Done };
  std::unordered_map<ObjectId, Mark> marks;
  std::size_t cut = 0;
  // A walk down from each object in turn, without recursion: a link to an
  // object whose walk is still open closes a circle.
  struct Step {
    ObjectId owner;
    std::size_t next;
  };
  for (const ObjectId start : objects) {
    if (marks[start] != Mark::Unseen) continue;
    std::vector<Step> path{{start, 0}};
    marks[start] = Mark::Open;
    while (!path.empty()) {
      Step& step = path.back();
      const auto found = links.find(step.owner);
      if (found == links.end() || step.next == found->second.size()) {
        marks[step.owner] = Mark::Done;
        path.pop_back();
        continue;
      }
      const Link link = found->second[step.next++];
      Mark& mark = marks[link.owned];
      if (mark == Mark::Open) {
        removeFrom(store, step.owner, link.owns, link.owned);
        if (const FeatureId back = featureInfo(link.owns).opposite; back != 0) {
          removeFrom(store, link.owned, back, step.owner);
        }
        ++cut;
      } else if (mark == Mark::Unseen) {
        mark = Mark::Open;
        path.push_back({link.owned, 0});
      }
    }
  }
  return cut;
}

}  // namespace model::xmi
