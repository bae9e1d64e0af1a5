#pragma once

// What owns an object, however far up: the other ends of the catalogue's
// composite features (a namespace, an owner), read at both ends of each
// relation, and the composite features without another end (a state
// machine's top state) from the index of referrers, so that the walk costs
// the chain of owners, not the repository.

#include <unordered_set>

#include "model/qovix_srv/qovix_srv_api.h"
#include "store/persistent_store.h"

namespace model {

// Every object that owns `id`, directly or not; `id` itself only when it is
// among its own owners (an ownership circle).
QOVIX_SRV_API std::unordered_set<ObjectId> ownersAbove(const PersistentStore& store, ObjectId id);

// Whether anything owns `id` directly.
QOVIX_SRV_API bool isOwned(const PersistentStore& store, ObjectId id);

}  // namespace model
