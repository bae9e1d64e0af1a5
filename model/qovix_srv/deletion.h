#pragma once

// Deleting a model element from the repository: the element, everything it
// owns (the features the catalogue marks `owns`, at any depth), and every
// object that cannot stand without one of those (the ends the catalogue
// marks `needs`: a generalization without its subtype, an association left
// with one end). Whatever else refers to them is cleared. The cost is in
// proportion to what goes and to what refers to it: every step is an index
// look-up, none a walk over the repository.

#include <cstddef>
#include <vector>

#include "model/qovix_srv/qovix_srv_api.h"
#include "store/persistent_store.h"

namespace model {

// What deleting `root` takes with it, `root` first, in the order found.
// Throws std::length_error, naming the bound, when more than `most` would
// go: such a delete is refused whole.
QOVIX_SRV_API std::vector<ObjectId> deletionOf(const PersistentStore& store, ObjectId root,
                                               std::size_t most);

// Deletes them: clears every reference to them from the objects that stay,
// then removes each from the store.
QOVIX_SRV_API void deleteObjects(PersistentStore& store, const std::vector<ObjectId>& going);

}  // namespace model
