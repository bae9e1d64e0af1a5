#include "platform/qovix_srv/members.h"

#include <algorithm>
#include <stdexcept>

#include "platform/qovix_srv/model_metadata.h"

namespace model {
namespace {

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

const OrderedIdSet* collectionOf(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return ref.store->collection(ref.id, feature);
}

OrderedIdSet& mutableCollectionOf(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return ref.store->mutableCollection(ref.id, feature);
}

void checkPosition(VornLong position, std::size_t limit) {
  if (position < 0 || static_cast<std::size_t>(position) > limit) {
    throw std::out_of_range("position " + std::to_string(position) + " is outside 0.." +
                            std::to_string(limit));
  }
}

std::vector<StoredValue>* valuesOf(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return const_cast<std::vector<StoredValue>*>(ref.store->valueList(ref.id, feature));
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
  const OrderedIdSet* members = collectionOf(self, feature);
  return members != nullptr ? members->ids() : std::vector<ObjectId>{};
}

ObjectId memberAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  const OrderedIdSet* members = collectionOf(self, feature);
  if (members == nullptr) throw std::out_of_range("index " + std::to_string(index) + " of none");
  return members->at(index);
}

int collectionContains(const VornPersistentObject& self, FeatureId feature,
                       const VornPersistentObject& member) {
  const OrderedIdSet* members = collectionOf(self, feature);
  return members != nullptr && members->contains(memberOf(self, member)) ? 1 : 0;
}

VornLong collectionSize(const VornPersistentObject& self, FeatureId feature) {
  const OrderedIdSet* members = collectionOf(self, feature);
  return members != nullptr ? members->size() : 0;
}

int collectionIsEmpty(const VornPersistentObject& self, FeatureId feature) {
  return collectionSize(self, feature) == 0 ? 1 : 0;
}

void replaceCollection(const VornPersistentObject& self, FeatureId feature,
                       const VornCollection& members) {
  named(self);
  if (members.size() > 0 && members.store() != self.store()) {
    throw std::invalid_argument("the collection belongs to another repository");
  }
  for (ObjectId id : members.ids()) {
    if (!self.store()->exists(id)) throw std::invalid_argument("the collection names no object");
  }
  OrderedIdSet& target = mutableCollectionOf(self, feature);
  target.clear();
  for (ObjectId id : members.ids()) target.append(id);
}

void addMember(const VornPersistentObject& self, FeatureId feature,
               const VornPersistentObject& member) {
  const ObjectId id = memberOf(self, member);
  mutableCollectionOf(self, feature).append(id);
}

void insertMember(const VornPersistentObject& self, FeatureId feature,
                  const VornPersistentObject& member, VornLong position) {
  const ObjectId id = memberOf(self, member);
  mutableCollectionOf(self, feature).insertAt(id, position);
}

void removeMember(const VornPersistentObject& self, FeatureId feature,
                  const VornPersistentObject& member) {
  const ObjectId id = memberOf(self, member);
  mutableCollectionOf(self, feature).remove(id);
}

void removeMemberAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  mutableCollectionOf(self, feature).removeAt(index);
}

void clearCollection(const VornPersistentObject& self, FeatureId feature) {
  mutableCollectionOf(self, feature).clear();
}

const StoredValue& storedValueAt(const VornPersistentObject& self, FeatureId feature,
                                 VornLong index) {
  const std::vector<StoredValue>* values = valuesOf(self, feature);
  const std::size_t count = values != nullptr ? values->size() : 0;
  if (index < 0 || static_cast<std::size_t>(index) >= count) {
    throw std::out_of_range("index " + std::to_string(index) + " is outside the " +
                            std::to_string(count) + " values");
  }
  return (*values)[static_cast<std::size_t>(index)];
}

int valuesContain(const VornPersistentObject& self, FeatureId feature, const VornDataType& value) {
  const std::vector<StoredValue>* values = valuesOf(self, feature);
  if (values == nullptr) return 0;
  return std::find(values->begin(), values->end(), toStored(value)) != values->end() ? 1 : 0;
}

VornLong valueCount(const VornPersistentObject& self, FeatureId feature) {
  const std::vector<StoredValue>* values = valuesOf(self, feature);
  return values != nullptr ? static_cast<VornLong>(values->size()) : 0;
}

int valuesEmpty(const VornPersistentObject& self, FeatureId feature) {
  return valueCount(self, feature) == 0 ? 1 : 0;
}

void insertValue(const VornPersistentObject& self, FeatureId feature, const VornDataType& value,
                 VornLong position) {
  const ObjectRef ref = named(self);
  std::vector<StoredValue>& values = ref.store->mutableValueList(ref.id, feature);
  checkPosition(position, values.size());
  values.insert(values.begin() + position, toStored(value));
}

void removeValue(const VornPersistentObject& self, FeatureId feature, const VornDataType& value) {
  std::vector<StoredValue>* values = valuesOf(self, feature);
  if (values == nullptr) return;
  const auto found = std::find(values->begin(), values->end(), toStored(value));
  if (found != values->end()) values->erase(found);
}

void removeValueAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  storedValueAt(self, feature, index);  // checks the index
  std::vector<StoredValue>* values = valuesOf(self, feature);
  values->erase(values->begin() + index);
}

void clearValues(const VornPersistentObject& self, FeatureId feature) {
  if (std::vector<StoredValue>* values = valuesOf(self, feature)) values->clear();
}

ObjectRef createIn(PersistentStore& store, ClassId classId) {
  return ObjectRef{&store, store.create(classId)};
}

ObjectRef duplicateOf(const VornPersistentObject& source, bool copyReferences) {
  if (source.objectId() == 0 || source.store() == nullptr) return {};
  const ObjectRef from = named(source);
  PersistentStore& store = *from.store;
  const ObjectRef copy = createIn(store, store.classOf(from.id));
  for (const FeatureInfo& feature : modelFeatures()) {
    switch (feature.kind) {
      case FeatureKind::Attribute:
      case FeatureKind::Hidden:
        if (const StoredValue* value = store.value(from.id, feature.id)) {
          store.setValue(copy.id, feature.id, *value);
        }
        break;
      case FeatureKind::Values:
        if (const auto* values = store.valueList(from.id, feature.id)) {
          store.mutableValueList(copy.id, feature.id) = *values;
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
        if (const OrderedIdSet* members = store.collection(from.id, feature.id)) {
          OrderedIdSet& target = store.mutableCollection(copy.id, feature.id);
          for (ObjectId id : members->ids()) target.append(id);
        }
        break;
    }
  }
  return copy;
}

std::vector<ObjectId> instancesOf(const PersistentStore& store, ClassId classId,
                                  bool withSubclasses) {
  if (!withSubclasses) return store.instancesOf(classId);
  std::vector<ObjectId> found;
  int listsTaken = 0;
  for (ClassId each : conformingClasses(classId)) {
    const std::vector<ObjectId>& instances = store.instancesOf(each);
    if (instances.empty()) continue;
    found.insert(found.end(), instances.begin(), instances.end());
    ++listsTaken;
  }
  // Ids are given in creation order; each class's list is already sorted.
  if (listsTaken > 1) std::sort(found.begin(), found.end());
  return found;
}

namespace {

FeatureId searchedAttribute(ClassId classId, const TextValue& attribute, bool text) {
  const FeatureId feature = attributeNamed(classId, narrow(attribute.text()));
  if (feature != 0) {
    const ValueClassInfo* info = valueClassInfo(featureInfo(feature).valueClass);
    if (info != nullptr && (info->payload == ValuePayload::Text) == text) return feature;
  }
  throw std::invalid_argument(std::string(classInfo(classId).name) + " has no " +
                              (text ? "text" : "number") + "-valued attribute '" +
                              narrow(attribute.text()) + "'");
}

template <class Matches>
std::vector<ObjectId> instancesWhere(const PersistentStore& store, ClassId classId,
                                     bool withSubclasses, FeatureId feature, Matches matches) {
  std::vector<ObjectId> found;
  for (ObjectId id : instancesOf(store, classId, withSubclasses)) {
    const StoredValue* value = store.value(id, feature);
    if (matches(value)) found.push_back(id);
  }
  return found;
}

}  // namespace

std::vector<ObjectId> instancesWithText(const PersistentStore& store, ClassId classId,
                                        const TextValue& attribute, const TextValue& text,
                                        bool withSubclasses) {
  const FeatureId feature = searchedAttribute(classId, attribute, true);
  return instancesWhere(store, classId, withSubclasses, feature, [&](const StoredValue* value) {
    return value != nullptr ? value->text == text.text() : text.text().empty();
  });
}

std::vector<ObjectId> instancesWithNumber(const PersistentStore& store, ClassId classId,
                                          const TextValue& attribute, std::int32_t number,
                                          bool withSubclasses) {
  const FeatureId feature = searchedAttribute(classId, attribute, false);
  return instancesWhere(store, classId, withSubclasses, feature, [&](const StoredValue* value) {
    return (value != nullptr ? value->number : 0) == number;
  });
}

ObjectRef castTo(const VornPersistentObject& object, ClassId classId, int check) {
  if (object.objectId() == 0 || object.store() == nullptr) return {};
  if (check != 0 && !conformsTo(object.store()->classOf(object.objectId()), classId)) return {};
  return object.ref();
}

}  // namespace model
