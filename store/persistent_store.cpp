#include "store/persistent_store.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <stdexcept>
#include <string>

PersistentStore::~PersistentStore() = default;

CommitRecord withMadeChanges(CommitRecord record) {
  if (record.madeBriefly.empty()) return record;
  std::vector<SlotChange> changes;
  changes.reserve(record.madeBriefly.size() + record.changes.size());
  for (const TouchedObject& made : record.created) {  // in the order of their numbers
    if (record.madeBriefly.contains(made.id)) {
      changes.push_back({.kind = SlotChange::Created, .object = made.id, .feature = made.classId});
    }
  }
  std::move(record.changes.begin(), record.changes.end(), std::back_inserter(changes));
  record.changes = std::move(changes);
  record.madeBriefly.clear();
  return record;
}

ObjectId PersistentStore::create(ClassId classId) {
  const StoreLimits& limits = settings_.limits;
  if (objectCount() >= limits.mostObjects) {
    throw StoreError("the repository holds its most objects, " +
                     std::to_string(limits.mostObjects) + " (qovixd --max-objects)");
  }
  if (createdInTransaction_ >= limits.mostCreatedPerTransaction) {
    throw StoreError("one call may make at most " +
                     std::to_string(limits.mostCreatedPerTransaction) + " objects");
  }
  const ObjectId made = createObject(classId);
  ++createdInTransaction_;
  note(made, classId, Touch::Created);
  noteOwned(made);
  madeInCall_.insert(made);
  if (brief_ && keepsHistory()) {
    // Its `created` change is written when the call ends, from the notes:
    // while the call reads a document, it holds nothing per object more.
    madeBriefly_.insert(made);
    return made;
  }
  remember({.kind = SlotChange::Created, .object = made, .feature = classId});
  return made;
}

void PersistentStore::removeObject(ObjectId id) {
  const ClassId classId = classOf(id);
  if (classId == 0) throw std::invalid_argument("no object " + std::to_string(id) + " to remove");
  note(id, classId, Touch::Deleted);
  noteOwned(id);
  noteOwnedMembers(id);
  const std::size_t remembered = changes_.size();
  try {
    if (recordsSlotsOf(id)) rememberSlotsOf(id);
    eraseObject(id);
  } catch (...) {
    changes_.resize(remembered);
    throw;
  }
  remember({.kind = SlotChange::Deleted, .object = id, .feature = classId});
}

void PersistentStore::restoreObject(ObjectId id, ClassId classId) {
  if (id == 0 || exists(id)) {
    throw std::invalid_argument("object " + std::to_string(id) + " is not one removed");
  }
  note(id, classId, Touch::Created);
  reviveObject(id, classId);
  noteOwned(id);
  remember({.kind = SlotChange::Created, .object = id, .feature = classId});
}

void PersistentStore::setValue(ObjectId id, FeatureId feature, const StoredValue& value) {
  noteChanged(id);
  SlotChange change{.kind = SlotChange::Value, .object = id, .feature = feature};
  if (recordsSlotsOf(id)) {
    if (std::optional<StoredValue> before = this->value(id, feature)) {
      change.before.push_back(std::move(*before));
    }
    change.after.push_back(value);
  }
  writeValue(id, feature, value);
  remember(std::move(change));
}

void PersistentStore::clearValue(ObjectId id, FeatureId feature) {
  std::optional<StoredValue> before = value(id, feature);
  if (!before) return;
  noteChanged(id);
  eraseValue(id, feature);
  remember({.kind = SlotChange::Value, .object = id, .feature = feature, .before = {*before}});
}

void PersistentStore::setReference(ObjectId id, FeatureId feature, ObjectId target) {
  noteChanged(id);
  const ObjectId before = recordsSlotsOf(id) ? reference(id, feature) : 0;
  writeReference(id, feature, target);
  if (feature == roots_.reference) noteOwned(id);
  remember({.kind = SlotChange::Reference,
            .object = id,
            .feature = feature,
            .beforeTarget = before,
            .afterTarget = target});
}

bool PersistentStore::insertMember(ObjectId id, FeatureId feature, ObjectId member,
                                   VornLong position) {
  // The place is checked first, as for any list: a member already there,
  // added at no place the list has, is refused like any other.
  if (const VornLong size = memberCount(id, feature); position < 0 || position > size) {
    throw std::out_of_range("position " + std::to_string(position) + " is outside 0.." +
                            std::to_string(size));
  }
  if (hasMember(id, feature, member)) return false;  // no change, and none noted
  noteChanged(id);
  if (!addMemberAt(id, feature, member, position)) return false;
  if (feature == roots_.collection) noteOwned(member);
  remember({.kind = SlotChange::Added,
            .object = id,
            .feature = feature,
            .position = position,
            .afterTarget = member});
  return true;
}

bool PersistentStore::removeMember(ObjectId id, FeatureId feature, ObjectId member) {
  const VornLong position = memberIndex(id, feature, member);
  if (position < 0) return false;
  noteChanged(id);
  dropMember(id, feature, member);
  if (feature == roots_.collection) noteOwned(member);
  remember({.kind = SlotChange::Removed,
            .object = id,
            .feature = feature,
            .position = position,
            .beforeTarget = member});
  return true;
}

void PersistentStore::clearMembers(ObjectId id, FeatureId feature) {
  const std::vector<ObjectId> before = members(id, feature);
  if (before.empty()) return;
  noteChanged(id);
  dropMembers(id, feature);
  if (feature == roots_.collection) {
    for (ObjectId member : before) noteOwned(member);
  }
  // Each leaves from the front, so that undoing, in reverse, puts each back
  // at the front.
  for (ObjectId member : before) {
    remember({.kind = SlotChange::Removed,
              .object = id,
              .feature = feature,
              .position = 0,
              .beforeTarget = member});
  }
}

void PersistentStore::setValues(ObjectId id, FeatureId feature, std::vector<StoredValue> values) {
  noteChanged(id);
  SlotChange change{.kind = SlotChange::Values, .object = id, .feature = feature};
  if (recordsSlotsOf(id)) {
    change.before = this->values(id, feature);
    change.after = values;
  }
  writeValues(id, feature, std::move(values));
  remember(std::move(change));
}

std::uint64_t PersistentStore::nextChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                            std::uint64_t after) const {
  if (const std::uint64_t kept = nextKeptChangeOf(object, feature, after)) return kept;
  // The held calls' rows wait for their commit, which numbers them in turn.
  for (std::size_t i = 0; i < held_.size(); ++i) {
    const std::uint64_t sequence = lastCommit() + i + 1;
    if (sequence <= after) continue;
    const CommitRecord& record = held_[i];
    bool touched = false;
    for (const auto* list : {&record.created, &record.changed, &record.deleted}) {
      for (const TouchedObject& each : *list) touched = touched || each.id == object;
    }
    if (touched &&
        (record.madeBriefly.contains(object) || mayHaveChanged(record.changes, object, feature))) {
      return sequence;
    }
  }
  return 0;
}

void PersistentStore::rememberSlotsOf(ObjectId id) {
  if (!keepsHistory()) return;
  for (FeatureId feature : writtenFeatures(id)) {
    if (std::optional<StoredValue> before = value(id, feature)) {
      remember({.kind = SlotChange::Value, .object = id, .feature = feature, .before = {*before}});
    } else if (const ObjectId target = reference(id, feature); target != 0) {
      remember({.kind = SlotChange::Reference,
                .object = id,
                .feature = feature,
                .beforeTarget = target});
    } else if (const std::vector<ObjectId> members = this->members(id, feature); !members.empty()) {
      for (ObjectId member : members) {
        remember({.kind = SlotChange::Removed,
                  .object = id,
                  .feature = feature,
                  .position = 0,
                  .beforeTarget = member});
      }
    } else if (std::vector<StoredValue> listed = values(id, feature); !listed.empty()) {
      remember({.kind = SlotChange::Values,
                .object = id,
                .feature = feature,
                .before = std::move(listed)});
    }
  }
}

void PersistentStore::remember(SlotChange change) {
  if (!keepsHistory()) return;
  if (!change.changesWholeObject() && !recordsSlotsOf(change.object)) return;
  changes_.push_back(std::move(change));
}

void PersistentStore::beginCall(const CallInfo& call) {
  rollback();
  call_ = call;
  if (holding_) {
    markCall();
    marked_ = true;
  }
  beginTransaction(call.writes);
}

void PersistentStore::holdRecordOfCall() {
  CommitRecord record = recordOfTouches();
  if (record.created.empty() && record.changed.empty() && record.deleted.empty()) return;
  // What the call made briefly was made before it was changed or linked:
  // its `created` changes come first, in the order made.
  record.madeBriefly = std::move(madeBriefly_);
  record.changes = std::move(changes_);
  record.principal = call_.principal;
  record.server = settings_.server;
  record.timeMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  held_.push_back(std::move(record));
}

void PersistentStore::endCall() {
  ++uncommittedVersion_;
  createdInTransaction_ = 0;
  touches_.clear();
  changes_.clear();
  madeBriefly_.clear();
  madeInCall_.clear();
  call_ = {};
}

void PersistentStore::commit() {
  if (heldLost_) {
    heldLost_ = false;
    abandonHeld();
    throw StoreError("the calls held for this commit were undone: the store failed meanwhile");
  }
  try {
    holdRecordOfCall();
    endCall();
    settleRoots();
    commitChanges(held_);
  } catch (...) {
    abandonHeld();
    heldLost_ = false;  // said here
    throw;
  }
  held_.clear();
  ++uncommittedVersion_;
  holding_ = marked_ = false;
}

std::vector<CommitRecord> PersistentStore::uncommitted() const {
  std::vector<CommitRecord> records = held_;
  CommitRecord current = recordOfTouches();
  if (touchedCount(current) > 0) {
    current.madeBriefly = madeBriefly_;
    current.changes = changes_;
    records.push_back(std::move(current));
  }
  for (std::size_t i = 0; i < records.size(); ++i) records[i].sequence = lastCommit() + 1 + i;
  return records;
}

void PersistentStore::commitLater() {
  if (!holdsCommits()) {
    commit();
    return;
  }
  holdRecordOfCall();  // when it cannot, the call is undone alone
  endCall();
  if (marked_) {
    marked_ = false;
    try {
      releaseMark();
    } catch (...) {
      abandonHeld();
      throw;
    }
  }
  holding_ = true;
}

void PersistentStore::rollback() {
  endCall();
  if (!holding_) {
    ownershipChanged_.clear();
    rollbackChanges();
    return;
  }
  if (!marked_) return;  // nothing began since the last call was held
  marked_ = false;
  try {
    rollbackToMark();
  } catch (...) {
    abandonHeld();
    throw;
  }
}

void PersistentStore::abandonHeld() {
  endCall();
  heldLost_ = heldLost_ || !held_.empty();
  held_.clear();
  holding_ = marked_ = false;
  ownershipChanged_.clear();
  rollbackChanges();
}

void PersistentStore::noteOwned(ObjectId id) {
  if (!roots_.kept()) return;
  const ClassId classId = classOf(id);
  if (std::find(roots_.classes.begin(), roots_.classes.end(), classId) != roots_.classes.end())
    ownershipChanged_.push_back(id);
}

void PersistentStore::noteOwnedMembers(ObjectId id) {
  if (!roots_.kept() || roots_.collection == 0) return;
  for (ObjectId member : members(id, roots_.collection)) noteOwned(member);
}

// A noted object may since have been removed, or owned and let go again:
// its place is read as the commit leaves it. An undone call's notes stay
// with the held calls' until their commit, and read what is there then.
void PersistentStore::settleRoots() {
  if (ownershipChanged_.empty()) return;
  std::sort(ownershipChanged_.begin(), ownershipChanged_.end());
  ownershipChanged_.erase(std::unique(ownershipChanged_.begin(), ownershipChanged_.end()),
                          ownershipChanged_.end());
  for (ObjectId id : ownershipChanged_) {
    const bool owned = !exists(id) ||
                       (roots_.reference != 0 && reference(id, roots_.reference) != 0) ||
                       (roots_.collection != 0 && !referrers(roots_.collection, id).empty());
    writeRoot(id, !owned);
  }
  ownershipChanged_.clear();
}

void PersistentStore::note(ObjectId id, ClassId classId, Touch touch) {
  if (!call_.writes) throw StoreError("a call that only reads cannot change the repository");
  ++uncommittedVersion_;
  touches_.push_back({id, classId, touch});
}

void PersistentStore::noteChanged(ObjectId id) {
  // An object the call made is in the log as made: its changes need no
  // note of their own.
  if (call_.writes && madeInCall_.contains(id)) return;
  const ClassId classId = classOf(id);
  if (classId == 0) throw std::invalid_argument("no object " + std::to_string(id));
  note(id, classId, Touch::Changed);
}

CommitRecord PersistentStore::recordOfTouches() const {
  CommitRecord record;
  if (touches_.empty()) return record;
  std::vector<Touched> touches(touches_);
  // The last touch of each object says what it became; made and removed
  // again, it is in no list; made, it is made whatever followed.
  std::stable_sort(touches.begin(), touches.end(),
                   [](const Touched& a, const Touched& b) { return a.id < b.id; });
  for (std::size_t first = 0; first < touches.size();) {
    std::size_t last = first;
    bool made = false;
    while (last < touches.size() && touches[last].id == touches[first].id) {
      made = made || touches[last].touch == Touch::Created;
      ++last;
    }
    const Touch final = touches[last - 1].touch;
    const TouchedObject touched{touches[first].id, touches[first].classId};
    if (final == Touch::Deleted) {
      if (!made) record.deleted.push_back(touched);
    } else if (made) {
      record.created.push_back(touched);
    } else {
      record.changed.push_back(touched);
    }
    first = last;
  }
  return record;
}
