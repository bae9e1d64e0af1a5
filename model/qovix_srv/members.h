#pragma once

// The model library's members, written once: every generated member of a
// model class is a one-line use of one of these. They work on the persistent
// object a surrogate names; a member called on an empty surrogate, or given
// one, throws std::invalid_argument, and an index or position outside a
// collection throws std::out_of_range.

#include <string>
#include <vector>

#include "model_values.h"
#include "model/qovix_srv/qovix_srv_api.h"
#include "model/wkm_srv/VornPersistentObject.h"
#include "model/wkm_srv/collections.h"
#include "store/persistent_store.h"

namespace model {

// The store and object a surrogate names; throws for an empty surrogate.
QOVIX_SRV_API ObjectRef named(const VornPersistentObject& object);
// The object `member` names, which must live in the same store as `self`.
QOVIX_SRV_API ObjectId memberOf(const VornPersistentObject& self,
                                const VornPersistentObject& member);

// Values -------------------------------------------------------------------

QOVIX_SRV_API StoredValue toStored(const VornDataType& value);
QOVIX_SRV_API void fromStored(const StoredValue& stored, VornDataType& value);

template <class V>
V readValue(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  V value;
  if (const auto stored = ref.store->value(ref.id, feature)) fromStored(*stored, value);
  return value;
}

QOVIX_SRV_API void writeValue(const VornPersistentObject& self, FeatureId feature,
                              const VornDataType& value);

// Single references -------------------------------------------------------

QOVIX_SRV_API ObjectId referenceOf(const VornPersistentObject& self, FeatureId feature);

// The referenced object, or an empty surrogate when the reference is unset.
template <class T>
T readReference(const VornPersistentObject& self, FeatureId feature) {
  const ObjectId target = referenceOf(self, feature);
  return target != 0 ? T(ObjectRef{self.store(), target}) : T();
}

QOVIX_SRV_API int referenceIsNull(const VornPersistentObject& self, FeatureId feature);
// Sets the reference to `target`; an empty surrogate clears it.
QOVIX_SRV_API void writeReference(const VornPersistentObject& self, FeatureId feature,
                                  const VornPersistentObject& target);
QOVIX_SRV_API void clearReference(const VornPersistentObject& self, FeatureId feature);

// Collections of objects ---------------------------------------------------

QOVIX_SRV_API std::vector<ObjectId> membersOf(const VornPersistentObject& self, FeatureId feature);

template <class Collection>
Collection readCollection(const VornPersistentObject& self, FeatureId feature) {
  return Collection(self.store(), membersOf(self, feature));
}

QOVIX_SRV_API ObjectId memberAt(const VornPersistentObject& self, FeatureId feature,
                                VornLong index);

template <class T>
T readMember(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  return T(ObjectRef{self.store(), memberAt(self, feature, index)});
}

QOVIX_SRV_API int collectionContains(const VornPersistentObject& self, FeatureId feature,
                                     const VornPersistentObject& member);
QOVIX_SRV_API VornLong collectionSize(const VornPersistentObject& self, FeatureId feature);
// 1 when the collection has no member.
QOVIX_SRV_API int collectionIsEmpty(const VornPersistentObject& self, FeatureId feature);
// The members of `members` in their order; they must live in the same store.
QOVIX_SRV_API void replaceCollection(const VornPersistentObject& self, FeatureId feature,
                                     const VornCollection& members);
// Adding a member twice leaves one.
QOVIX_SRV_API void addMember(const VornPersistentObject& self, FeatureId feature,
                             const VornPersistentObject& member);
QOVIX_SRV_API void insertMember(const VornPersistentObject& self, FeatureId feature,
                                const VornPersistentObject& member, VornLong position);
QOVIX_SRV_API void removeMember(const VornPersistentObject& self, FeatureId feature,
                                const VornPersistentObject& member);
QOVIX_SRV_API void removeMemberAt(const VornPersistentObject& self, FeatureId feature,
                                  VornLong index);
QOVIX_SRV_API void clearCollection(const VornPersistentObject& self, FeatureId feature);

// Lists of values ---------------------------------------------------------

QOVIX_SRV_API StoredValue storedValueAt(const VornPersistentObject& self, FeatureId feature,
                                               VornLong index);

template <class V>
V readValueAt(const VornPersistentObject& self, FeatureId feature, VornLong index) {
  V value;
  fromStored(storedValueAt(self, feature, index), value);
  return value;
}

QOVIX_SRV_API int valuesContain(const VornPersistentObject& self, FeatureId feature,
                                const VornDataType& value);
QOVIX_SRV_API VornLong valueCount(const VornPersistentObject& self, FeatureId feature);
QOVIX_SRV_API int valuesEmpty(const VornPersistentObject& self, FeatureId feature);
QOVIX_SRV_API void insertValue(const VornPersistentObject& self, FeatureId feature,
                               const VornDataType& value, VornLong position);
// Removes the first value equal to `value`, if any.
QOVIX_SRV_API void removeValue(const VornPersistentObject& self, FeatureId feature,
                               const VornDataType& value);
QOVIX_SRV_API void removeValueAt(const VornPersistentObject& self, FeatureId feature,
                                 VornLong index);
QOVIX_SRV_API void clearValues(const VornPersistentObject& self, FeatureId feature);

// Lifecycle ----------------------------------------------------------------

// A new persistent object of `classId` in the repository.
QOVIX_SRV_API ObjectRef createIn(PersistentStore& store, ClassId classId);
// A new object of the same class with the source's values, and with its
// references and collections too when `copyReferences` is set. An empty
// source gives an empty reference.
QOVIX_SRV_API ObjectRef duplicateOf(const VornPersistentObject& source, bool copyReferences);
// The instances of `classId` (and, when `withSubclasses`, of the classes
// that conform to it) in creation order.
QOVIX_SRV_API std::vector<ObjectId> instancesOf(const PersistentStore& store, ClassId classId,
                                                bool withSubclasses);
// Those whose text attribute `attribute` equals `text`, or whose list of
// text values `attribute` holds it; throws std::invalid_argument when the
// class has no such attribute.
QOVIX_SRV_API std::vector<ObjectId> instancesWithText(const PersistentStore& store, ClassId classId,
                                                      const TextValue& attribute,
                                                      const TextValue& text, bool withSubclasses);
// Those whose number-valued attribute `attribute` equals `number`.
QOVIX_SRV_API std::vector<ObjectId> instancesWithNumber(const PersistentStore& store,
                                                        ClassId classId, const TextValue& attribute,
                                                        std::int32_t number, bool withSubclasses);
// The persistent object `object` names seen as `classId`: empty when `check`
// is set and the object does not conform to the class.
QOVIX_SRV_API ObjectRef castTo(const VornPersistentObject& object, ClassId classId, int check);

}  // namespace model
