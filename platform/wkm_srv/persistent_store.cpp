#include "platform/wkm_srv/persistent_store.h"

#include <algorithm>
#include <chrono>

PersistentStore::~PersistentStore() = default;

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
  return made;
}

void PersistentStore::beginCall(const CallInfo& call) {
  rollback();
  call_ = call;
  beginTransaction(call.writes);
}

void PersistentStore::commit() {
  createdInTransaction_ = 0;
  CommitRecord record = recordOfTouches();
  touches_.clear();
  const bool changed =
      !record.created.empty() || !record.changed.empty() || !record.deleted.empty();
  if (changed) {
    record.principal = call_.principal;
    record.server = settings_.server;
    record.timeMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  }
  call_ = {};
  commitChanges(changed ? &record : nullptr);
}

void PersistentStore::rollback() {
  createdInTransaction_ = 0;
  touches_.clear();
  call_ = {};
  rollbackChanges();
}

void PersistentStore::note(Touched touched) {
  if (!call_.writes) throw StoreError("a call that only reads cannot change the repository");
  touches_.push_back(touched);
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
    const ObjectId id = touches[first].id;
    if (final == Touch::Deleted) {
      if (!made) record.deleted.push_back(id);
    } else if (made) {
      record.created.push_back(id);
    } else {
      record.changed.push_back(id);
    }
    first = last;
  }
  return record;
}
