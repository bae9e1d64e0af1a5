#pragma once

// What an import made must own in a tree (or a lattice: a UML 1.1 element
// may sit in several namespaces), never in a circle. A document that gives
// an element the id of what holds it, or names owners in a circle, would
// otherwise import an element inside itself, which every walk down from the
// repository then misses.

#include <cstddef>
#include <optional>
#include <vector>

#include "store/persistent_store.h"

namespace model::xmi {

// A link an import made in which `owner` holds `owned` in `owns`, one of
// its composite features (made at either end: the reader notes each).
struct OwnershipLink {
  ObjectId owner;
  ObjectId owned;
  FeatureId owns;
  friend auto operator<=>(const OwnershipLink&, const OwnershipLink&) = default;
};

// The ownership link that linking `from`'s `feature` to `to` makes, if the
// feature owns at either of its ends.
std::optional<OwnershipLink> ownershipLinkOf(ObjectId from, FeatureId feature, ObjectId to);

// Takes out of the store each of `links` that closes a circle (at both of
// its ends), so that what remains owns without circles; answers how many
// went. One walk over the links, read from what the import noted rather
// than from the store: its cost grows with the links, however deep the
// ownership.
std::size_t cutOwnershipCircles(PersistentStore& store, std::vector<OwnershipLink> links);

}  // namespace model::xmi
