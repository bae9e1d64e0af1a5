#include "model/qovix_srv/reading.h"

#include <map>
#include <unordered_set>

#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/operations.h"
#include "model/qovix_srv/store_view.h"
#include "model_classes.h"

namespace model {
namespace {

bool isSingle(FeatureKind kind) {
  return kind == FeatureKind::Single || kind == FeatureKind::ReadOnly;
}

bool holdsValues(FeatureKind kind) {
  return kind == FeatureKind::Attribute || kind == FeatureKind::Hidden ||
         kind == FeatureKind::Values;
}

// The attributes an object of each class reads as their defaults while
// unwritten (and its name, for a model element): found once a class.
const std::vector<const FeatureInfo*>& defaultedFeatures(ClassId classId) {
  static const std::vector<std::vector<const FeatureInfo*>> table = [] {
    std::vector<std::vector<const FeatureInfo*>> made(modelClasses().size() + 1);
    for (ClassId each = 1; each < made.size(); ++each) {
      for (const FeatureInfo& info : modelFeatures()) {
        const bool attribute = info.kind == FeatureKind::Attribute && conformsTo(each, info.owner);
        const bool named =
            info.id == feature::name && conformsTo(each, QOVIXModelElement::kClassId);
        if (attribute || named) made[each].push_back(&info);
      }
    }
    return made;
  }();
  static const std::vector<const FeatureInfo*> none;
  return classId < table.size() ? table[classId] : none;
}

}  // namespace

std::u16string nameOf(const PersistentStore& store, ObjectId id) {
  const auto name = store.value(id, feature::name);
  return name ? name->text : std::u16string();
}

std::vector<ReadSlot> slotsOf(const PersistentStore& store, ObjectId id) {
  const ClassId classId = store.classOf(id);
  if (classId == 0) return {};
  std::map<FeatureId, ReadSlot> slots;
  for (FeatureId feature : store.writtenFeatures(id)) {
    const FeatureInfo& info = featureInfo(feature);
    ReadSlot slot{feature, {}, {}, holdsValues(info.kind)};
    if (info.kind == FeatureKind::Values) {
      slot.values = store.values(id, feature);
    } else if (slot.isValue) {
      if (auto value = store.value(id, feature)) slot.values.push_back(std::move(*value));
    } else if (isSingle(info.kind)) {
      if (const ObjectId target = store.reference(id, feature)) slot.targets.push_back(target);
    } else {
      slot.targets = store.members(id, feature);
    }
    slots.emplace(feature, std::move(slot));
  }
  // What the other ends give, as StoreView::ends reads a relation: after
  // what the slot itself holds, each once.
  std::map<FeatureId, std::unordered_set<ObjectId>> seen;
  for (const auto& [feature, source] : store.referencesTo(id)) {
    const FeatureId back = featureInfo(feature).opposite;
    if (back == 0) continue;
    const FeatureInfo& info = featureInfo(back);
    if (!conformsTo(classId, info.owner) || holdsValues(info.kind)) continue;
    ReadSlot& slot = slots.try_emplace(back, ReadSlot{back, {}, {}, false}).first->second;
    auto [known, fresh] = seen.try_emplace(back);
    if (fresh) known->second.insert(slot.targets.begin(), slot.targets.end());
    if (isSingle(info.kind) && !slot.targets.empty()) continue;
    if (known->second.insert(source).second) slot.targets.push_back(source);
  }
  // An unwritten attribute reads as its default, the empty text or 0, as
  // its getter answers it.
  for (const FeatureInfo* info : defaultedFeatures(classId)) {
    if (slots.count(info->id) == 0) {
      slots.emplace(info->id, ReadSlot{info->id, {StoredValue{info->valueClass, 0, {}}}, {}, true});
    }
  }
  std::vector<ReadSlot> found;
  found.reserve(slots.size());
  for (auto& [feature, slot] : slots) found.push_back(std::move(slot));
  return found;
}

std::vector<ObjectId> contentsOf(const PersistentStore& store, ObjectId id) {
  if (!conformsTo(store.classOf(id), QOVIXNamespace::kClassId)) return {};
  return namespaceContents(StoreView(store), id);
}

StoreOptions::Roots packageRoots() {
  return {conformingClasses(QOVIXPackage::kClassId), feature::QOVIXModelElement_namespace1,
          feature::QOVIXNamespace_ownedElement};
}

std::vector<ObjectId> topLevelPackages(const PersistentStore& store) {
  if (store.rootsKept() == packageRoots()) return store.roots();
  const StoreView view(store);
  std::vector<ObjectId> found;
  for (ObjectId package : store.instancesOf(conformingClasses(QOVIXPackage::kClassId))) {
    if (view.related(package, feature::QOVIXModelElement_namespace1).empty())
      found.push_back(package);
  }
  return found;
}

std::vector<ObjectId> ownersOf(const PersistentStore& store, ObjectId id) {
  constexpr std::size_t kMostOwners = 64;
  const StoreView view(store);
  std::vector<ObjectId> owners;
  std::unordered_set<ObjectId> seen{id};
  for (ObjectId at = id; owners.size() < kMostOwners;) {
    if (!conformsTo(store.classOf(at), QOVIXModelElement::kClassId)) break;
    const std::vector<ObjectId> above = view.related(at, feature::QOVIXModelElement_namespace1);
    if (above.empty() || !seen.insert(above.front()).second) break;
    at = above.front();
    owners.insert(owners.begin(), at);
  }
  return owners;
}

}  // namespace model
