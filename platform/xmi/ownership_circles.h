#pragma once

// What an import made must own in a tree (or a lattice: a UML 1.1 element
// may sit in several namespaces), never in a circle. A document that gives
// an element the id of what holds it, or names owners in a circle, would
// otherwise import an element inside itself, which every walk down from the
// repository then misses.

#include <cstddef>
#include <unordered_set>
#include <vector>

#include "platform/wkm_srv/persistent_store.h"

namespace model::xmi {

// Takes out of `objects`' slots each ownership link that closes a circle
// (at both of its ends), so that what remains owns without circles; answers
// how many links went. One walk over the links: its cost grows with the
// objects and their links, however deep the ownership.
std::size_t cutOwnershipCircles(PersistentStore& store, const std::vector<ObjectId>& objects);

// `object` and everything that owns it, however far up.
std::unordered_set<ObjectId> ownersUpFrom(const PersistentStore& store, ObjectId object);

}  // namespace model::xmi
