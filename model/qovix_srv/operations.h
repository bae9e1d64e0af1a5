#pragma once

// The model's class operations, written once against the store; the
// members of the model classes call them. Derived collections answer the members' ids
// in a stable order (the order found, each once).

#include <initializer_list>
#include <string>
#include <vector>

#include "model_values.h"
#include "model/qovix_srv/qovix_srv_api.h"
#include "model/wkm_srv/VornMetaModel.h"
#include "model/wkm_srv/VornPersistentObject.h"

namespace model {

class StoreView;

// A constructor argument naming the object's owner, with the class the
// parameter declares.
struct Owner {
  const VornPersistentObject* object;
  ClassId declaredClass;
};

// Initialises a new object: its name from the first QOVIXName, further
// values into the class's attributes of their value class, and each owner's
// feature that holds objects of this class gains it (see operations.cpp).
QOVIX_SRV_API void construct(const VornPersistentObject& self, ClassId classId,
                             std::initializer_list<Owner> owners,
                             std::initializer_list<const VornDataType*> values);
// A package built from a metamodel: the metamodel's name, a copy of its
// defining package's contents, and a place in `owner`.
QOVIX_SRV_API void constructFromMetaModel(const VornPersistentObject& self,
                                          const VornMetaModel& metaModel,
                                          const VornPersistentObject& owner);

// "1", "0..*", "1..3,5": the ranges of a multiplicity, in order.
QOVIX_SRV_API std::u16string multiplicityText(const VornPersistentObject& self);
// Replaces the ranges by those `text` lists; throws std::invalid_argument for
// text that is no multiplicity.
QOVIX_SRV_API void setMultiplicityText(const VornPersistentObject& self, const TextValue& text);

// What a tagged value, enumeration literal or element reference shows.
QOVIX_SRV_API std::u16string label(const VornPersistentObject& self);

// The first member of a collection feature, or an empty surrogate.
QOVIX_SRV_API ObjectId firstMemberId(const VornPersistentObject& self, FeatureId feature);
template <class T>
T firstMember(const VornPersistentObject& self, FeatureId feature) {
  const ObjectId first = firstMemberId(self, feature);
  return first != 0 ? T(ObjectRef{self.store(), first}) : T();
}

// The tagged value of the element whose tag is `tag`; empty when none.
QOVIX_SRV_API ObjectRef taggedValueNamed(const VornPersistentObject& self, const TextValue& tag);

QOVIX_SRV_API bool isTemplate(const VornPersistentObject& self);
QOVIX_SRV_API bool isInstantiated(const VornPersistentObject& self);
QOVIX_SRV_API bool checkWellFormedness(const VornPersistentObject& self);
QOVIX_SRV_API bool hasSameSignature(const VornPersistentObject& self,
                                    const VornPersistentObject& other);

// Packages and documents (documents.cpp).
QOVIX_SRV_API ObjectRef copyModel(const VornPersistentObject& package,
                                  const VornPersistentObject& into);
QOVIX_SRV_API void externalize(const VornPersistentObject& package, const TextValue& format,
                               const TextValue& document);
QOVIX_SRV_API ObjectRef internalize(const VornPersistentObject& package, const TextValue& format,
                                    const TextValue& document);
QOVIX_SRV_API bool createMetaModel(const VornPersistentObject& package, bool strict);

// Derived collections (derived.cpp). `declaringClass` is the class whose
// operation was called.
using Ids = std::vector<ObjectId>;
// clang-format off
QOVIX_SRV_API Ids supplier(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allSuppliers(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids model(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids templateArguments(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allContents(const VornPersistentObject& self, ClassId declaringClass);
// A namespace's contents, as contents() reads them, from a view of the store.
QOVIX_SRV_API Ids namespaceContents(const StoreView& view, ObjectId namespaceId);
// Whether allContents(namespace) holds `target`, at the cost of what the
// target relates to.
QOVIX_SRV_API bool allContentsHold(const VornPersistentObject& namespaceObject, ObjectId target);
QOVIX_SRV_API Ids supertype(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allSupertypes(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids contents(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allVisibleElements(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allSurroundingNamespaces(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids parameter(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allFeatures(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allOperations(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allMethods(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allAttributes(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allAssociations(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids associations(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids oppositeAssociationEnds(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allOppositeAssociationEnds(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allLinks(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allOppositeLinkEnds(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allConnections(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allReferencedElements(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids referencedElement(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allSpecificationElements(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids specificationPath(const VornPersistentObject& self, ClassId declaringClass);
QOVIX_SRV_API Ids allPredecessors(const VornPersistentObject& self, ClassId declaringClass);
// clang-format on

}  // namespace model
