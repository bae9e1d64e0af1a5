#include "store/store_at_commit.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

// Commits and objects read from the log a page at a time.
constexpr std::size_t kCommitsAPage = 256;
constexpr std::size_t kObjectsAPage = 65536;
constexpr std::size_t kHistoryAPage = 64;

// Whether the commit's changes are kept: a commit touches something, so
// one whose changes are kept lists some (its objects made briefly count).
bool changesKept(const CommitRecord& record) {
  return !record.changes.empty() || !record.madeBriefly.empty() || touchedCount(record) == 0;
}

std::string commitName(std::uint64_t sequence) { return "commit " + std::to_string(sequence); }

// Whether the commit touched the object: each list is in number order.
bool touches(const CommitRecord& record, ObjectId id) {
  const auto byId = [](const TouchedObject& object, ObjectId wanted) { return object.id < wanted; };
  for (const auto* objects : {&record.created, &record.changed, &record.deleted}) {
    const auto at = std::lower_bound(objects->begin(), objects->end(), id, byId);
    if (at != objects->end() && at->id == id) return true;
  }
  return false;
}

}  // namespace

std::uint64_t oldestReadableCommit(const PersistentStore& store) {
  // Changes are forgotten oldest first: the commits whose changes are kept
  // are the last ones, from the first kept on. Found by halving.
  std::uint64_t low = 1, high = store.lastCommit() + 1;  // the first kept is in [low, high]
  while (low < high) {
    const std::uint64_t middle = low + (high - low) / 2;
    const std::optional<CommitRecord> record = store.commitAt(middle, 1);
    if (record && changesKept(*record)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low - 1;
}

StoreAtCommit::StoreAtCommit(const PersistentStore& now, std::uint64_t commit,
                             FeatureId searchedName)
    : now_(now), commit_(commit), searchedName_(searchedName), seen_(commit) {
  if (commit > now.lastCommit()) {
    throw StoreError("there is no " + commitName(commit) + ": the last is " +
                     std::to_string(now.lastCommit()));
  }
  checkReadable();
  settings() = now.settings();
  keepRoots(now.rootsKept());  // answered from the store's, corrected
  catchUp();
}

StoreAtCommit::~StoreAtCommit() = default;

void StoreAtCommit::checkReadable() const {
  if (const std::uint64_t oldest = oldestReadableCommit(now_); commit_ < oldest) {
    throw StoreError("the changes after " + commitName(commit_) +
                     " are no longer kept (qovixd --history): the oldest commit that can be "
                     "read is " +
                     std::to_string(oldest));
  }
}

void StoreAtCommit::forget() {
  std::unordered_set<ObjectId>().swap(touched_);
  std::unordered_set<ObjectId>().swap(pendingTouched_);
  std::unordered_map<ObjectId, std::unique_ptr<Past>>().swap(pasts_);
  pending_.clear();
  seen_ = commit_;
  seenVersion_ = 0;
}

void StoreAtCommit::catchUp() const {
  const std::uint64_t last = now_.lastCommit();
  const std::uint64_t version = now_.uncommittedVersion();
  if (last == seen_ && version == seenVersion_) return;
  for (std::uint64_t after = seen_; after < last;) {
    const std::vector<CommitRecord> page = now_.commitsSince(after, kCommitsAPage, kObjectsAPage);
    if (page.empty()) break;
    for (const CommitRecord& record : page) {
      for (const auto* objects : {&record.created, &record.changed, &record.deleted}) {
        for (const TouchedObject& object : *objects) {
          touched_.insert(object.id);
          pasts_.erase(object.id);  // as it is now has changed
        }
      }
      after = record.sequence;
    }
  }
  seen_ = last;
  // What is not committed yet is undone first, as if committed last; what
  // it touched then, and touches now, is read anew.
  for (ObjectId id : pendingTouched_) pasts_.erase(id);
  pendingTouched_.clear();
  pending_.clear();
  for (CommitRecord& record : now_.uncommitted()) {
    for (const auto* objects : {&record.created, &record.changed, &record.deleted}) {
      for (const TouchedObject& object : *objects) {
        pendingTouched_.insert(object.id);
        pasts_.erase(object.id);
      }
    }
    pending_.push_back(withMadeChanges(std::move(record)));
  }
  seenVersion_ = version;
}

bool StoreAtCommit::touched(ObjectId id) const {
  return touched_.contains(id) || pendingTouched_.contains(id);
}

StoreAtCommit::Past StoreAtCommit::undone(ObjectId id) const {
  Past past;
  past.existed = past.restAsNow = now_.exists(id);
  past.classId = now_.classOf(id);
  // Each slot starts as it is now, the first time a change to it is
  // undone; once back past the object's making (an undo brings a removed
  // object back), as it was then: empty.
  const auto valueSlot = [&](FeatureId feature) -> std::optional<StoredValue>& {
    const auto [slot, fresh] = past.values.try_emplace(feature);
    if (fresh && past.restAsNow) slot->second = now_.value(id, feature);
    return slot->second;
  };
  const auto referenceSlot = [&](FeatureId feature) -> ObjectId& {
    const auto [slot, fresh] = past.references.try_emplace(feature, 0);
    if (fresh && past.restAsNow) slot->second = now_.reference(id, feature);
    return slot->second;
  };
  const auto collection = [&](FeatureId feature) -> std::vector<ObjectId>& {
    const auto [slot, fresh] = past.collections.try_emplace(feature);
    if (fresh && past.restAsNow) slot->second = now_.members(id, feature);
    return slot->second;
  };
  const auto list = [&](FeatureId feature) -> std::vector<StoredValue>& {
    const auto [slot, fresh] = past.lists.try_emplace(feature);
    if (fresh && past.restAsNow) slot->second = now_.values(id, feature);
    return slot->second;
  };
  // Each commit's changes of the object, last first.
  const auto undo = [&](const CommitRecord& record) {
    if (!changesKept(record)) {
      throw StoreError("the changes of " + commitName(record.sequence) +
                       " are not kept (qovixd --history)");
    }
    for (auto change = record.changes.rbegin(); change != record.changes.rend(); ++change) {
      if (change->object != id) continue;
      switch (change->kind) {
        case SlotChange::Created:
          past = Past{};  // before it was made it held nothing
          past.restAsNow = false;
          break;
        case SlotChange::Deleted:
          past.existed = true;
          past.classId = static_cast<ClassId>(change->feature);
          break;
        case SlotChange::Value:
          valueSlot(change->feature) =
              change->before.empty() ? std::nullopt : std::optional(change->before.front());
          break;
        case SlotChange::Reference:
          referenceSlot(change->feature) = change->beforeTarget;
          break;
        case SlotChange::Added: {
          std::vector<ObjectId>& members = collection(change->feature);
          std::erase(members, change->afterTarget);
          break;
        }
        case SlotChange::Removed: {
          std::vector<ObjectId>& members = collection(change->feature);
          const auto at = static_cast<std::size_t>(
              std::clamp<VornLong>(change->position, 0, static_cast<VornLong>(members.size())));
          members.insert(members.begin() + static_cast<std::ptrdiff_t>(at), change->beforeTarget);
          break;
        }
        case SlotChange::Values:
          list(change->feature) = change->before;
          break;
      }
    }
  };
  // What is not committed yet, newest first; then the commits after this
  // one, newest first, a page at a time.
  for (auto record = pending_.rbegin(); record != pending_.rend(); ++record) {
    if (touches(*record, id)) undo(*record);
  }
  for (std::uint64_t before = 0;;) {
    const std::vector<CommitRecord> page = now_.historyOf(id, before, kHistoryAPage);
    bool done = page.size() < kHistoryAPage;
    for (const CommitRecord& kept : page) {
      if (kept.sequence <= commit_) {
        done = true;
        break;
      }
      undo(withMadeChanges(kept));
      before = kept.sequence;
    }
    if (done) break;
  }
  if (!past.existed) {
    past = Past{};
    past.restAsNow = false;
  }
  return past;
}

const StoreAtCommit::Past* StoreAtCommit::pastOf(ObjectId id) const {
  catchUp();
  if (!touched(id)) return nullptr;
  auto [slot, fresh] = pasts_.try_emplace(id);
  if (fresh) {
    try {
      slot->second = std::make_unique<Past>(undone(id));
    } catch (...) {
      pasts_.erase(id);
      throw;
    }
  }
  return slot->second.get();
}

std::vector<ObjectId> StoreAtCommit::touchedSince() const {
  catchUp();
  std::vector<ObjectId> found(touched_.begin(), touched_.end());
  for (ObjectId id : pendingTouched_) {
    if (!touched_.contains(id)) found.push_back(id);
  }
  std::sort(found.begin(), found.end());
  return found;
}

template <class Keep>
std::vector<ObjectId> StoreAtCommit::corrected(std::vector<ObjectId> found, Keep keep) const {
  catchUp();
  std::erase_if(found, [&](ObjectId id) { return touched(id); });
  for (ObjectId id : touchedSince()) {
    const Past* past = pastOf(id);
    if (past->existed && keep(id)) found.push_back(id);
  }
  std::sort(found.begin(), found.end());
  return found;
}

template <class Slots, class ReadNow>
typename Slots::mapped_type StoreAtCommit::slotAt(ObjectId id, FeatureId feature,
                                                  Slots Past::*slots, ReadNow readNow) const {
  const Past* past = pastOf(id);
  if (past == nullptr) return readNow();
  if (!past->existed) return {};
  const auto slot = (past->*slots).find(feature);
  if (slot != (past->*slots).end()) return slot->second;
  return past->restAsNow ? readNow() : typename Slots::mapped_type{};
}

bool StoreAtCommit::collectionAsNow(const Past* past, FeatureId feature) {
  return past == nullptr ||
         (past->existed && past->restAsNow && !past->collections.contains(feature));
}

bool StoreAtCommit::exists(ObjectId id) const {
  const Past* past = pastOf(id);
  return past != nullptr ? past->existed : now_.exists(id);
}

ClassId StoreAtCommit::classOf(ObjectId id) const {
  const Past* past = pastOf(id);
  return past != nullptr ? past->classId : now_.classOf(id);
}

std::vector<ObjectId> StoreAtCommit::instancesOf(std::span<const ClassId> classes) const {
  return corrected(now_.instancesOf(classes), [&](ObjectId id) {
    return std::find(classes.begin(), classes.end(), classOf(id)) != classes.end();
  });
}

std::size_t StoreAtCommit::objectCount() const {
  catchUp();
  std::size_t count = now_.objectCount();
  for (ObjectId id : touchedSince()) {
    const bool there = pastOf(id)->existed;
    const bool isNow = now_.exists(id);
    if (isNow && !there) --count;
    if (there && !isNow) ++count;
  }
  return count;
}

std::optional<StoredValue> StoreAtCommit::value(ObjectId id, FeatureId feature) const {
  return slotAt(id, feature, &Past::values, [&] { return now_.value(id, feature); });
}

std::vector<ObjectId> StoreAtCommit::holdingValue(FeatureId feature,
                                                  const StoredValue& wanted) const {
  const auto same = [&](const StoredValue& held) {
    return held.number == wanted.number && held.text == wanted.text;
  };
  return corrected(now_.holdingValue(feature, wanted), [&](ObjectId id) {
    const std::optional<StoredValue> held = value(id, feature);
    if (held && same(*held)) return true;
    const std::vector<StoredValue> list = values(id, feature);
    return std::any_of(list.begin(), list.end(), same);
  });
}

std::vector<ObjectId> StoreAtCommit::namesMatching(name_search::Match match,
                                                   std::u16string_view folded,
                                                   std::size_t most) const {
  if (searchedName_ == 0) return {};
  const auto foldedName = [&](ObjectId id) {
    const std::optional<StoredValue> name = value(id, searchedName_);
    return name ? name_search::folded(name->text) : std::u16string();
  };
  const auto matches = [&](ObjectId id) {
    if (!value(id, searchedName_)) return false;
    const std::u16string name = foldedName(id);
    switch (match) {
      case name_search::Match::Exact:
        return name == folded;
      case name_search::Match::Prefix:
        return name.size() > folded.size() && name.starts_with(folded);
      case name_search::Match::Containing:
        return folded.size() >= name_search::kGramUnits && name.find(folded, 1) != name.npos;
    }
    return false;
  };
  // Enough of the store's answer that the touched objects it may lose
  // leave `most`.
  catchUp();
  std::vector<ObjectId> found = corrected(
      now_.namesMatching(match, folded, most + touched_.size() + pendingTouched_.size()), matches);
  std::vector<std::pair<std::u16string, ObjectId>> ordered;
  ordered.reserve(found.size());
  for (ObjectId id : found) ordered.emplace_back(foldedName(id), id);
  std::sort(ordered.begin(), ordered.end());
  found.clear();
  for (std::size_t i = 0; i < ordered.size() && i < most; ++i) found.push_back(ordered[i].second);
  return found;
}

std::vector<ObjectId> StoreAtCommit::roots() const {
  const StoreOptions::Roots& kept = rootsKept();
  if (kept.classes.empty()) return {};
  // A root lost or gained its place through its own reference, or through
  // a collection of another object touched since: each such member is a
  // candidate too.
  catchUp();
  std::vector<ObjectId> candidates = now_.roots();
  for (ObjectId id : touchedSince()) {
    candidates.push_back(id);
    if (kept.collection != 0) {
      for (ObjectId member : members(id, kept.collection)) candidates.push_back(member);
      if (const auto now = now_.members(id, kept.collection); !now.empty()) {
        candidates.insert(candidates.end(), now.begin(), now.end());
      }
    }
  }
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  std::vector<ObjectId> found;
  for (ObjectId id : candidates) {
    if (!exists(id)) continue;
    if (std::find(kept.classes.begin(), kept.classes.end(), classOf(id)) == kept.classes.end())
      continue;
    if (kept.reference != 0 && reference(id, kept.reference) != 0) continue;
    if (kept.collection != 0 && !referrers(kept.collection, id).empty()) continue;
    found.push_back(id);
  }
  return found;
}

ObjectId StoreAtCommit::reference(ObjectId id, FeatureId feature) const {
  return slotAt(id, feature, &Past::references, [&] { return now_.reference(id, feature); });
}

std::vector<ObjectId> StoreAtCommit::members(ObjectId id, FeatureId feature) const {
  return slotAt(id, feature, &Past::collections, [&] { return now_.members(id, feature); });
}

VornLong StoreAtCommit::memberCount(ObjectId id, FeatureId feature) const {
  if (collectionAsNow(pastOf(id), feature)) return now_.memberCount(id, feature);
  return static_cast<VornLong>(members(id, feature).size());
}

bool StoreAtCommit::hasMember(ObjectId id, FeatureId feature, ObjectId member) const {
  return memberIndex(id, feature, member) >= 0;
}

ObjectId StoreAtCommit::memberAt(ObjectId id, FeatureId feature, VornLong index) const {
  if (collectionAsNow(pastOf(id), feature)) return now_.memberAt(id, feature, index);
  const std::vector<ObjectId> all = members(id, feature);
  if (index < 0 || index >= static_cast<VornLong>(all.size())) {
    throw std::out_of_range("no member " + std::to_string(index));
  }
  return all[static_cast<std::size_t>(index)];
}

VornLong StoreAtCommit::memberIndex(ObjectId id, FeatureId feature, ObjectId member) const {
  if (collectionAsNow(pastOf(id), feature)) return now_.memberIndex(id, feature, member);
  const std::vector<ObjectId> all = members(id, feature);
  const auto at = std::find(all.begin(), all.end(), member);
  return at == all.end() ? -1 : static_cast<VornLong>(at - all.begin());
}

std::vector<ObjectId> StoreAtCommit::referrers(FeatureId feature, ObjectId target) const {
  return corrected(now_.referrers(feature, target), [&](ObjectId id) {
    return reference(id, feature) == target || hasMember(id, feature, target);
  });
}

std::vector<std::pair<FeatureId, ObjectId>> StoreAtCommit::referencesTo(ObjectId target) const {
  catchUp();
  std::vector<std::pair<FeatureId, ObjectId>> found = now_.referencesTo(target);
  std::erase_if(found, [&](const auto& each) { return touched(each.second); });
  for (ObjectId id : touchedSince()) {
    if (!pastOf(id)->existed) continue;
    for (FeatureId feature : writtenFeatures(id)) {
      if (reference(id, feature) == target || hasMember(id, feature, target)) {
        found.emplace_back(feature, id);
      }
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<StoredValue> StoreAtCommit::values(ObjectId id, FeatureId feature) const {
  return slotAt(id, feature, &Past::lists, [&] { return now_.values(id, feature); });
}

std::vector<FeatureId> StoreAtCommit::writtenFeatures(ObjectId id) const {
  const Past* past = pastOf(id);
  if (past == nullptr) return now_.writtenFeatures(id);
  if (!past->existed) return {};
  // Those written now or written at the commit: a slot emptied since is
  // among them, as the store's own list holds one emptied.
  std::vector<FeatureId> features;
  if (past->restAsNow) features = now_.writtenFeatures(id);
  for (const auto& each : past->values) features.push_back(each.first);
  for (const auto& each : past->references) features.push_back(each.first);
  for (const auto& each : past->collections) features.push_back(each.first);
  for (const auto& each : past->lists) features.push_back(each.first);
  std::sort(features.begin(), features.end());
  features.erase(std::unique(features.begin(), features.end()), features.end());
  return features;
}

std::vector<CommitRecord> StoreAtCommit::commitsSince(std::uint64_t sequence, std::size_t most,
                                                      std::size_t mostObjects) const {
  std::vector<CommitRecord> found = now_.commitsSince(sequence, most, mostObjects);
  std::erase_if(found, [&](const CommitRecord& record) { return record.sequence > commit_; });
  return found;
}

std::vector<CommitRecord> StoreAtCommit::historyOf(ObjectId object, std::uint64_t before,
                                                   std::size_t most) const {
  const std::uint64_t bound = before == 0 ? commit_ + 1 : std::min(before, commit_ + 1);
  return now_.historyOf(object, bound, most);
}

std::optional<CommitRecord> StoreAtCommit::commitAt(std::uint64_t sequence,
                                                    std::size_t mostChanges) const {
  if (sequence > commit_) return std::nullopt;
  return now_.commitAt(sequence, mostChanges);
}

void StoreAtCommit::refuseWrite() const {
  throw StoreError("the repository is read as it was at " + commitName(commit_) +
                   ", where nothing can be changed: return to the latest state to change it");
}

ObjectId StoreAtCommit::createObject(ClassId) { refuseWrite(); }
void StoreAtCommit::eraseObject(ObjectId) { refuseWrite(); }
void StoreAtCommit::reviveObject(ObjectId, ClassId) { refuseWrite(); }
void StoreAtCommit::writeValue(ObjectId, FeatureId, const StoredValue&) { refuseWrite(); }
void StoreAtCommit::eraseValue(ObjectId, FeatureId) { refuseWrite(); }
void StoreAtCommit::writeReference(ObjectId, FeatureId, ObjectId) { refuseWrite(); }
bool StoreAtCommit::addMemberAt(ObjectId, FeatureId, ObjectId, VornLong) { refuseWrite(); }
void StoreAtCommit::dropMember(ObjectId, FeatureId, ObjectId) { refuseWrite(); }
void StoreAtCommit::dropMembers(ObjectId, FeatureId) { refuseWrite(); }
void StoreAtCommit::writeValues(ObjectId, FeatureId, std::vector<StoredValue>) { refuseWrite(); }

std::uint64_t StoreAtCommit::nextKeptChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                              std::uint64_t after) const {
  const std::uint64_t next = now_.nextChangeOf(object, feature, after);
  return next > commit_ ? 0 : next;
}

void StoreAtCommit::beginTransaction(bool writes) {
  if (writes) refuseWrite();
}

void StoreAtCommit::commitChanges(std::span<CommitRecord> records) {
  if (!records.empty()) refuseWrite();
}
