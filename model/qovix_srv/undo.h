#pragma once

// Taking one commit back: its changes undone in reverse order, as a new
// commit. Refused, changing nothing, when a later commit changed a slot it
// changed (or the objects it made or removed), or when an object it made
// is referred to from a slot it did not write; the refusal names that
// commit and slot.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/qovix_srv/qovix_srv_api.h"
#include "store/persistent_store.h"

namespace model {

struct UndoOutcome {
  std::string refusal;            // empty when undone
  std::vector<ObjectId> removed;  // objects the commit made, now gone again
};

QOVIX_SRV_API UndoOutcome undoCommit(PersistentStore& store, std::uint64_t sequence);

// A slot as people read it: "QOVIXClass.name of object 42"; the object
// alone ("object 42 (QOVIXClass)") for nothing.
QOVIX_SRV_API std::string describeSlot(ObjectId object, ClassId classId,
                                       std::optional<FeatureId> feature);

}  // namespace model
