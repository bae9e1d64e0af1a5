#pragma once

// What a view of many elements reads in one go, straight from the store as
// the model reads it: an object's slots with each relation taken from both
// of its ends, a namespace's contents, and the packages no namespace owns.
// Each costs what the object relates to, never a walk of the repository.

#include <string>
#include <vector>

#include "model/qovix_srv/qovix_srv_api.h"
#include "store/persistent_store.h"

namespace model {

// A slot of an object: the values of a value or list of values, or the
// objects a reference or collection holds.
struct ReadSlot {
  FeatureId feature = 0;
  std::vector<StoredValue> values;
  std::vector<ObjectId> targets;
  bool isValue = false;  // values, not targets
};

// The model element's name; empty for none, or an object that is no element.
QOVIX_SRV_API std::u16string nameOf(const PersistentStore& store, ObjectId id);

// Every slot the object has, in feature order: those it wrote, those the
// other end of a relation gives it (an element whose namespace names a
// package is in the package's ownedElement, as the model's derived
// operations read it), and each unwritten attribute with its default, as
// its getter reads it. Empty for no object.
QOVIX_SRV_API std::vector<ReadSlot> slotsOf(const PersistentStore& store, ObjectId id);

// A namespace's contents, as contents() answers them: what it owns and, for
// a package, what it imports. Empty for an object that is no namespace.
QOVIX_SRV_API std::vector<ObjectId> contentsOf(const PersistentStore& store, ObjectId id);

// The packages (models and subsystems too) that no namespace owns, in
// creation order: from the store's index of roots where it keeps
// packageRoots(), else a look at each package.
QOVIX_SRV_API std::vector<ObjectId> topLevelPackages(const PersistentStore& store);
// The roots a store keeps for topLevelPackages: packages, owned through an
// element's namespace or a namespace's owned elements.
QOVIX_SRV_API StoreOptions::Roots packageRoots();

// The namespaces around the element, outermost first (each its owner's
// owner), as far as 64 levels and never round a circle.
QOVIX_SRV_API std::vector<ObjectId> ownersOf(const PersistentStore& store, ObjectId id);

}  // namespace model
