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
  if (holding_) {
    markCall();
    marked_ = true;
  }
  beginTransaction(call.writes);
}

void PersistentStore::holdRecordOfCall() {
  CommitRecord record = recordOfTouches();
  if (record.created.empty() && record.changed.empty() && record.deleted.empty()) return;
  record.principal = call_.principal;
  record.server = settings_.server;
  record.timeMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  held_.push_back(std::move(record));
}

void PersistentStore::endCall() {
  createdInTransaction_ = 0;
  touches_.clear();
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
    commitChanges(held_);
  } catch (...) {
    abandonHeld();
    heldLost_ = false;  // said here
    throw;
  }
  held_.clear();
  holding_ = marked_ = false;
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
