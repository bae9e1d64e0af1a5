#include "model/qovix_srv/undo.h"

#include <optional>
#include <stdexcept>
#include <unordered_set>

#include "model/qovix_srv/model_metadata.h"

namespace model {

namespace {

std::string className(ClassId classId) {
  try {
    return classInfo(classId).name;
  } catch (const std::out_of_range&) {
    return "class " + std::to_string(classId);
  }
}

// The class an object of the commit has or had.
ClassId classIn(const CommitRecord& commit, const PersistentStore& store, ObjectId object) {
  for (const auto* list : {&commit.created, &commit.changed, &commit.deleted}) {
    for (const TouchedObject& touched : *list) {
      if (touched.id == object && touched.classId != 0) return touched.classId;
    }
  }
  return store.classOf(object);
}

// Why the commit cannot be undone; nothing when it can.
std::optional<std::string> conflict(const PersistentStore& store, const CommitRecord& commit) {
  const std::string undoing = "commit " + std::to_string(commit.sequence);
  for (const SlotChange& change : commit.changes) {
    const std::optional<FeatureId> slot =
        change.changesWholeObject() ? std::nullopt : std::optional(change.feature);
    if (const std::uint64_t later = store.nextChangeOf(change.object, slot, commit.sequence)) {
      return "commit " + std::to_string(later) + " changed " +
             describeSlot(change.object, classIn(commit, store, change.object), slot) + " after " +
             undoing;
    }
  }
  // What the commit made goes again: nothing it did not write (or make)
  // may refer to it then. The slots it wrote and the objects it made are
  // looked up, not searched: a commit may make a million objects.
  std::unordered_set<ObjectId> made;
  std::unordered_set<std::uint64_t> written;
  const auto slotKey = [](ObjectId object, FeatureId feature) {
    return (std::uint64_t{object} << 32) | feature;
  };
  for (const SlotChange& change : commit.changes) {
    if (change.kind == SlotChange::Created) made.insert(change.object);
    if (!change.changesWholeObject()) written.insert(slotKey(change.object, change.feature));
  }
  for (const SlotChange& change : commit.changes) {
    if (change.kind != SlotChange::Created) continue;
    for (const auto& reference : store.referencesTo(change.object)) {
      const FeatureId feature = reference.first;
      const ObjectId referrer = reference.second;
      if (made.count(referrer) != 0 || written.count(slotKey(referrer, feature)) != 0) continue;
      const std::uint64_t later = store.nextChangeOf(referrer, feature, commit.sequence);
      return (later != 0 ? "commit " + std::to_string(later) : std::string("a later commit")) +
             " made " + describeSlot(referrer, store.classOf(referrer), feature) + " refer to " +
             describeSlot(change.object, change.feature, std::nullopt) + ", which " + undoing +
             " made";
    }
  }
  // What the undo writes back must be there to refer to: an object the
  // commit deleted comes back with it, one deleted since does not.
  std::unordered_set<ObjectId> restored;
  for (const SlotChange& change : commit.changes) {
    if (change.kind == SlotChange::Deleted) restored.insert(change.object);
  }
  for (const SlotChange& change : commit.changes) {
    const bool refers = (change.kind == SlotChange::Reference && change.beforeTarget != 0) ||
                        change.kind == SlotChange::Removed;
    const ObjectId target = change.beforeTarget;
    if (!refers || restored.count(target) != 0 || store.exists(target)) continue;
    const std::uint64_t later = store.nextChangeOf(target, std::nullopt, commit.sequence);
    return (later != 0 ? "commit " + std::to_string(later) : std::string("a later commit")) +
           " deleted object " + std::to_string(target) + " after " + undoing +
           ", and undoing it would make " +
           describeSlot(change.object, classIn(commit, store, change.object), change.feature) +
           " refer to it again";
  }
  return std::nullopt;
}

void undoChange(PersistentStore& store, const SlotChange& change, UndoOutcome& outcome) {
  switch (change.kind) {
    case SlotChange::Created:
      store.removeObject(change.object);
      outcome.removed.push_back(change.object);
      break;
    case SlotChange::Deleted:
      store.restoreObject(change.object, change.feature);
      break;
    case SlotChange::Value:
      if (change.before.empty()) {
        store.clearValue(change.object, change.feature);
      } else {
        store.setValue(change.object, change.feature, change.before.front());
      }
      break;
    case SlotChange::Reference:
      store.setReference(change.object, change.feature, change.beforeTarget);
      break;
    case SlotChange::Added:
      store.removeMember(change.object, change.feature, change.afterTarget);
      break;
    case SlotChange::Removed:
      store.insertMember(change.object, change.feature, change.beforeTarget, change.position);
      break;
    case SlotChange::Values:
      store.setValues(change.object, change.feature, change.before);
      break;
  }
}

}  // namespace

std::string describeSlot(ObjectId object, ClassId classId, std::optional<FeatureId> feature) {
  if (!feature) return "object " + std::to_string(object) + " (" + className(classId) + ")";
  std::string slot;
  try {
    const FeatureInfo& info = featureInfo(*feature);
    slot = (info.owner != 0 ? className(info.owner) : std::string("*")) + "." + info.name;
  } catch (const std::out_of_range&) {
    slot = "feature " + std::to_string(*feature);
  }
  return slot + " of object " + std::to_string(object);
}

UndoOutcome undoCommit(PersistentStore& store, std::uint64_t sequence) {
  UndoOutcome outcome;
  const std::string which = "commit " + std::to_string(sequence);
  if (!store.keepsHistory()) {
    outcome.refusal = "this repository keeps no history (qovixd --history none)";
    return outcome;
  }
  const std::optional<CommitRecord> commit = store.commitAt(sequence, SIZE_MAX);  // all of it is undone
  if (!commit) {
    outcome.refusal = "there is no " + which;
    return outcome;
  }
  if (commit->changes.empty()) {
    outcome.refusal = "the changes of " + which + " are not kept (qovixd --history)";
    return outcome;
  }
  if (std::optional<std::string> why = conflict(store, *commit)) {
    outcome.refusal = std::move(*why);
    return outcome;
  }
  for (auto change = commit->changes.rbegin(); change != commit->changes.rend(); ++change) {
    undoChange(store, *change, outcome);
  }
  return outcome;
}

}  // namespace model
