#include <memory>
#include <stdexcept>
#include <variant>

#include "platform/wkm_srv/persistent_store.h"

PersistentStore::~PersistentStore() = default;

namespace {

using ValueList = std::vector<StoredValue>;

struct Slot {
  FeatureId feature;
  std::variant<StoredValue, ObjectId, std::unique_ptr<OrderedIdSet>, std::unique_ptr<ValueList>>
      content;
};

// An object's slots, few per object, found by a short linear search.
struct ObjectRecord {
  ClassId classId;
  std::vector<Slot> slots;

  Slot* find(FeatureId feature) {
    for (Slot& slot : slots) {
      if (slot.feature == feature) return &slot;
    }
    return nullptr;
  }
  const Slot* find(FeatureId feature) const {
    return const_cast<ObjectRecord*>(this)->find(feature);
  }
};

class MemoryStore final : public PersistentStore {
 public:
  ObjectId create(ClassId classId) override {
    if (objects_.size() >= UINT32_MAX - 1) throw std::length_error("the repository is full");
    objects_.push_back({classId, {}});
    const auto id = static_cast<ObjectId>(objects_.size());
    if (classId >= byClass_.size()) byClass_.resize(classId + 1);
    byClass_[classId].push_back(id);
    return id;
  }

  bool exists(ObjectId id) const override { return id != 0 && id <= objects_.size(); }

  ClassId classOf(ObjectId id) const override { return exists(id) ? objects_[id - 1].classId : 0; }

  const std::vector<ObjectId>& instancesOf(ClassId classId) const override {
    static const std::vector<ObjectId> none;
    return classId < byClass_.size() ? byClass_[classId] : none;
  }

  std::size_t objectCount() const override { return objects_.size(); }

  const StoredValue* value(ObjectId id, FeatureId feature) const override {
    const Slot* slot = find(id, feature);
    return slot != nullptr ? std::get_if<StoredValue>(&slot->content) : nullptr;
  }

  void setValue(ObjectId id, FeatureId feature, StoredValue value) override {
    slot(id, feature).content = std::move(value);
  }

  ObjectId reference(ObjectId id, FeatureId feature) const override {
    const Slot* slot = find(id, feature);
    const ObjectId* target = slot != nullptr ? std::get_if<ObjectId>(&slot->content) : nullptr;
    return target != nullptr ? *target : 0;
  }

  void setReference(ObjectId id, FeatureId feature, ObjectId target) override {
    slot(id, feature).content = target;
  }

  const OrderedIdSet* collection(ObjectId id, FeatureId feature) const override {
    const Slot* slot = find(id, feature);
    if (slot == nullptr) return nullptr;
    const auto* held = std::get_if<std::unique_ptr<OrderedIdSet>>(&slot->content);
    return held != nullptr ? held->get() : nullptr;
  }

  OrderedIdSet& mutableCollection(ObjectId id, FeatureId feature) override {
    Slot& written = slot(id, feature);
    auto* held = std::get_if<std::unique_ptr<OrderedIdSet>>(&written.content);
    if (held == nullptr || *held == nullptr) {
      written.content = std::make_unique<OrderedIdSet>();
      held = std::get_if<std::unique_ptr<OrderedIdSet>>(&written.content);
    }
    return **held;
  }

  const ValueList* valueList(ObjectId id, FeatureId feature) const override {
    const Slot* slot = find(id, feature);
    if (slot == nullptr) return nullptr;
    const auto* held = std::get_if<std::unique_ptr<ValueList>>(&slot->content);
    return held != nullptr ? held->get() : nullptr;
  }

  ValueList& mutableValueList(ObjectId id, FeatureId feature) override {
    Slot& written = slot(id, feature);
    auto* held = std::get_if<std::unique_ptr<ValueList>>(&written.content);
    if (held == nullptr || *held == nullptr) {
      written.content = std::make_unique<ValueList>();
      held = std::get_if<std::unique_ptr<ValueList>>(&written.content);
    }
    return **held;
  }

 private:
  ObjectRecord& record(ObjectId id) {
    if (!exists(id)) throw std::invalid_argument("no object " + std::to_string(id));
    return objects_[id - 1];
  }

  const Slot* find(ObjectId id, FeatureId feature) const {
    return exists(id) ? objects_[id - 1].find(feature) : nullptr;
  }

  Slot& slot(ObjectId id, FeatureId feature) {
    ObjectRecord& object = record(id);
    if (Slot* found = object.find(feature)) return *found;
    object.slots.push_back({feature, StoredValue{}});
    return object.slots.back();
  }

  std::vector<ObjectRecord> objects_;
  std::vector<std::vector<ObjectId>> byClass_;
};

}  // namespace

std::unique_ptr<PersistentStore> makeMemoryStore() { return std::make_unique<MemoryStore>(); }
