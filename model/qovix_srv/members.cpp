#include "model/qovix_srv/members.h"

#include <algorithm>
#include <stdexcept>

#include "model/qovix_srv/model_metadata.h"
#include "utf/utf.h"

namespace model {
namespace {

void checkPosition(VornLong position, std::size_t limit) {
  if (position < 0 || static_cast<std::size_t>(position) > limit) {
    throw std::out_of_range("position " + std::to_string(position) + " is outside 0.." +
                            std::to_string(limit));
  }
}

std::vector<StoredValue> valuesOf(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return ref.store->values(ref.id, feature);
}

void writeValues(const VornPersistentObject& self, FeatureId feature,
                 std::vector<StoredValue> values) {
  const ObjectRef ref = named(self);
  ref.store->setValues(ref.id, feature, std::move(values));
}

}  // namespace

ObjectRef named(const VornPersistentObject& object) {
  if (object.store() == nullptr || !object.store()->exists(object.objectId())) {
    throw std::invalid_argument("the surrogate names no persistent object");
  }
  return object.ref();
}

ObjectId memberOf(const VornPersistentObject& self, const VornPersistentObject& member) {
  const ObjectRef ref = named(member);
  if (ref.store != self.store()) {
    throw std::invalid_argument("the object belongs to another repository");
  }
  return ref.id;
}

StoredValue toStored(const VornDataType& value) {
  StoredValue stored;
  stored.valueClass = value.datatypeId();
  if (const auto* text = dynamic_cast<const TextValue*>(&value)) {
    stored.text = text->text();
  } else if (const auto* integer = dynamic_cast<const VornInteger*>(&value)) {
    stored.number = integer->number();
  } else if (const auto* ordinal = dynamic_cast<const VornEnumeration*>(&value)) {
    stored.number = ordinal->number();
  }
  return stored;
}

void fromStored(const StoredValue& stored, VornDataType& value) {
  if (auto* text = dynamic_cast<TextValue*>(&value)) {
    text->setText(stored.text);
  } else if (auto* integer = dynamic_cast<VornInteger*>(&value)) {
    integer->setNumber(stored.number);
  } else if (auto* ordinal = dynamic_cast<VornEnumeration*>(&value)) {
    ordinal->setNumber(stored.number);
  }
}

void writeValue(const VornPersistentObject& self, FeatureId feature, const VornDataType& value) {
  const ObjectRef ref = named(self);
  ref.store->setValue(ref.id, feature, toStored(value));
}

ObjectId referenceOf(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return ref.store->reference(ref.id, feature);
}

int referenceIsNull(const VornPersistentObject& self, FeatureId feature) {
  return referenceOf(self, feature) == 0 ? 1 : 0;
}

void writeReference(const VornPersistentObject& self, FeatureId feature,
                    const VornPersistentObject& target) {
  const ObjectRef ref = named(self);
  const ObjectId targetId = target.objectId() == 0 ? 0 : memberOf(self, target);
  ref.store->setReference(ref.id, feature, targetId);
}

void clearReference(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  ref.store->setReference(ref.id, feature, 0);
}

std::vector<ObjectId> membersOf(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return ref.store->members(ref.id, feature);
}

ObjectId memberAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  const ObjectRef ref = named(self);
  return ref.store->memberAt(ref.id, feature, index);
}

int collectionContains(const VornPersistentObject& self, FeatureId feature,
                       const VornPersistentObject& member) {
  const ObjectRef ref = named(self);
  return ref.store->hasMember(ref.id, feature, memberOf(self, member)) ? 1 : 0;
}

VornLong collectionSize(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return ref.store->memberCount(ref.id, feature);
}

int collectionIsEmpty(const VornPersistentObject& self, FeatureId feature) {
  return collectionSize(self, feature) == 0 ? 1 : 0;
}

void replaceCollection(const VornPersistentObject& self, FeatureId feature,
                       const VornCollection& members) {
  const ObjectRef ref = named(self);
  if (members.size() > 0 && members.store() != self.store()) {
    throw std::invalid_argument("the collection belongs to another repository");
  }
  for (ObjectId id : members.ids()) {
    if (!ref.store->exists(id)) throw std::invalid_argument("the collection names no object");
  }
  ref.store->clearMembers(ref.id, feature);
  for (ObjectId id : members.ids()) ref.store->appendMember(ref.id, feature, id);
}

void addMember(const VornPersistentObject& self, FeatureId feature,
               const VornPersistentObject& member) {
  const ObjectRef ref = named(self);
  ref.store->appendMember(ref.id, feature, memberOf(self, member));
}

void insertMember(const VornPersistentObject& self, FeatureId feature,
                  const VornPersistentObject& member, VornLong position) {
  const ObjectRef ref = named(self);
  ref.store->insertMember(ref.id, feature, memberOf(self, member), position);
}

void removeMember(const VornPersistentObject& self, FeatureId feature,
                  const VornPersistentObject& member) {
  const ObjectRef ref = named(self);
  ref.store->removeMember(ref.id, feature, memberOf(self, member));
}

void removeMemberAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  const ObjectRef ref = named(self);
  ref.store->removeMember(ref.id, feature, ref.store->memberAt(ref.id, feature, index));
}

void clearCollection(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  ref.store->clearMembers(ref.id, feature);
}

StoredValue storedValueAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  std::vector<StoredValue> values = valuesOf(self, feature);
  if (index < 0 || static_cast<std::size_t>(index) >= values.size()) {
    throw std::out_of_range("index " + std::to_string(index) + " is outside the " +
                            std::to_string(values.size()) + " values");
  }
  return std::move(values[static_cast<std::size_t>(index)]);
}

int valuesContain(const VornPersistentObject& self, FeatureId feature, const VornDataType& value) {
  const std::vector<StoredValue> values = valuesOf(self, feature);
  return std::find(values.begin(), values.end(), toStored(value)) != values.end() ? 1 : 0;
}

VornLong valueCount(const VornPersistentObject& self, FeatureId feature) {
  return static_cast<VornLong>(valuesOf(self, feature).size());
}

int valuesEmpty(const VornPersistentObject& self, FeatureId feature) {
  return valueCount(self, feature) == 0 ? 1 : 0;
}

void insertValue(const VornPersistentObject& self, FeatureId feature, const VornDataType& value,
                 VornLong position) {
  std::vector<StoredValue> values = valuesOf(self, feature);
  checkPosition(position, values.size());
  values.insert(values.begin() + position, toStored(value));
  writeValues(self, feature, std::move(values));
}

void removeValue(const VornPersistentObject& self, FeatureId feature, const VornDataType& value) {
  std::vector<StoredValue> values = valuesOf(self, feature);
  const auto found = std::find(values.begin(), values.end(), toStored(value));
  if (found == values.end()) return;
  values.erase(found);
  writeValues(self, feature, std::move(values));
}

void removeValueAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  storedValueAt(self, feature, index);  // checks the index
  std::vector<StoredValue> values = valuesOf(self, feature);
  values.erase(values.begin() + index);
  writeValues(self, feature, std::move(values));
}

void clearValues(const VornPersistentObject& self, FeatureId feature) {
  if (valueCount(self, feature) != 0) writeValues(self, feature, {});
}

ObjectRef createIn(PersistentStore& store, ClassId classId) {
  return ObjectRef{&store, store.create(classId)};
}

ObjectRef duplicateOf(const VornPersistentObject& source, bool copyReferences) {
  if (source.objectId() == 0 || source.store() == nullptr) return {};
  const ObjectRef from = named(source);
  PersistentStore& store = *from.store;
  const ObjectRef copy = createIn(store, store.classOf(from.id));
  for (const FeatureId slot : store.writtenFeatures(from.id)) {
    const FeatureInfo& feature = featureInfo(slot);
    switch (feature.kind) {
      case FeatureKind::Attribute:
      case FeatureKind::Hidden:
        if (const auto value = store.value(from.id, feature.id)) {
          store.setValue(copy.id, feature.id, *value);
        }
        break;
      case FeatureKind::Values:
        if (auto values = store.values(from.id, feature.id); !values.empty()) {
          store.setValues(copy.id, feature.id, std::move(values));
        }
        break;
      case FeatureKind::Single:
      case FeatureKind::ReadOnly:
        if (copyReferences)
          store.setReference(copy.id, feature.id, store.reference(from.id, feature.id));
        break;
      case FeatureKind::Set:
      case FeatureKind::List:
      case FeatureKind::Array:
        if (!copyReferences) break;
        for (ObjectId id : store.members(from.id, feature.id)) {
          store.appendMember(copy.id, feature.id, id);
        }
        break;
    }
  }
  return copy;
}

std::vector<ObjectId> instancesOf(const PersistentStore& store, ClassId classId,
                                  bool withSubclasses) {
  if (!withSubclasses) return store.instancesOf(std::span(&classId, 1));
  return store.instancesOf(conformingClasses(classId));
}

namespace {

// The attribute, or list of values, named `attribute` that a `classId`
// object has; 0 when there is none.
FeatureId searchableNamed(ClassId classId, const std::string& attribute) {
  if (const FeatureId feature = attributeNamed(classId, attribute)) return feature;
  for (const FeatureInfo& feature : modelFeatures()) {
    if (feature.kind == FeatureKind::Values && feature.name == attribute &&
        conformsTo(classId, feature.owner)) {
      return feature.id;
    }
  }
  return 0;
}

FeatureId searchedAttribute(ClassId classId, const TextValue& attribute, bool text) {
  const FeatureId feature = searchableNamed(classId, utf::toUtf8(attribute.text()));
  if (feature != 0) {
    const ValueClassInfo* info = valueClassInfo(featureInfo(feature).valueClass);
    if (info != nullptr && (info->payload == ValuePayload::Text) == text) return feature;
  }
  throw std::invalid_argument(std::string(classInfo(classId).name) + " has no " +
                              (text ? "text" : "number") + "-valued attribute '" +
                              utf::toUtf8(attribute.text()) + "'");
}

// The `classId` objects (or, with `withSubclasses`, those that conform to
// it) whose attribute `feature` holds `wanted`, or whose list of values
// `feature` holds it among its values. An unwritten attribute reads
// as the empty text or 0, so a search for that looks at every instance;
// any other search is answered from the store's index of values, and costs
// what it finds.
std::vector<ObjectId> instancesWhere(const PersistentStore& store, ClassId classId,
                                     bool withSubclasses, FeatureId feature,
                                     const StoredValue& wanted) {
  const auto fits = [&](ObjectId id) {
    const ClassId actual = store.classOf(id);
    return withSubclasses ? conformsTo(actual, classId) : actual == classId;
  };
  std::vector<ObjectId> found;
  // A list of values matches by any of its values; an unwritten attribute
  // by its default.
  const bool list = featureInfo(feature).kind == FeatureKind::Values;
  if (!list && wanted.text.empty() && wanted.number == 0) {
    for (ObjectId id : instancesOf(store, classId, withSubclasses)) {
      const std::optional<StoredValue> value = store.value(id, feature);
      if (!value || (value->text.empty() && value->number == 0)) found.push_back(id);
    }
    return found;
  }
  for (ObjectId id : store.holdingValue(feature, wanted)) {
    if (fits(id)) found.push_back(id);
  }
  return found;
}

}  // namespace

std::vector<ObjectId> instancesWithText(const PersistentStore& store, ClassId classId,
                                        const TextValue& attribute, const TextValue& text,
                                        bool withSubclasses) {
  const FeatureId feature = searchedAttribute(classId, attribute, true);
  return instancesWhere(store, classId, withSubclasses, feature, StoredValue{0, 0, text.text()});
}

std::vector<ObjectId> instancesWithNumber(const PersistentStore& store, ClassId classId,
                                          const TextValue& attribute, std::int32_t number,
                                          bool withSubclasses) {
  const FeatureId feature = searchedAttribute(classId, attribute, false);
  return instancesWhere(store, classId, withSubclasses, feature, StoredValue{0, number, {}});
}

ObjectRef castTo(const VornPersistentObject& object, ClassId classId, int check) {
  if (object.objectId() == 0 || object.store() == nullptr) return {};
  if (check != 0 && !conformsTo(object.store()->classOf(object.objectId()), classId)) return {};
  return object.ref();
}

}  // namespace model
