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

// A link an import made in which `owner` holds `owned` in `owns`, one of
// its composite features (made at either end: the reader notes each).
struct OwnershipLink {
  ObjectId owner;
  ObjectId owned;
  FeatureId owns;
  friend auto operator<=>(const OwnershipLink&, const OwnershipLink&) = default;
};

// Whether a link of `feature` (at either of its ends) is one of ownership,
// and which end owns: `owner` is set to whether `feature`'s object does.
bool ownsAtSomeEnd(FeatureId feature, bool& ownerHere);

// Takes out of the store each of `links` that closes a circle (at both of
// its ends), so that what remains owns without circles; answers how many
// went. One walk over the links, read from what the import noted rather
// than from the store: its cost grows with the links, however deep the
// ownership.
std::size_t cutOwnershipCircles(PersistentStore& store, std::vector<OwnershipLink> links);

// `object` and everything that owns it, however far up.
std::unordered_set<ObjectId> ownersUpFrom(const PersistentStore& store, ObjectId object);

}  // namespace model::xmi
