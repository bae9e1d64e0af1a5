#pragma once

// The repository as it was at a commit, read from a store as it is now and
// from the history since. An object no commit since touched is read from
// the store as it is. One that was touched is read as its slots are now
// with each change since undone, newest first: along its own history (the
// store's index by object and commit), never the whole log. Finds ask the
// store's indexes, then correct their answer with the objects touched since
// the commit. So what a read costs follows what changed since the commit,
// not the size of the repository. Nothing can be written there.
//
// What the store has changed and not committed yet (calls held for a group
// commit, the call in progress) is undone first, as if committed last; a
// commit made meanwhile is taken into account at the next read.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/persistent_store.h"

// The oldest commit the repository can be read at: every commit after it
// has its changes kept (a commit's changes are forgotten oldest first,
// qovixd --history). 0 is the empty repository before the first commit.
STORE_API std::uint64_t oldestReadableCommit(const PersistentStore& store);

class STORE_API StoreAtCommit final : public PersistentStore {
 public:
  // Reads `now` as it was at `commit`; `searchedName` is the feature whose
  // text its index of names holds (StoreOptions::searchedName). Throws
  // StoreError for a commit past the last, or older than the oldest that
  // can be read (naming it).
  StoreAtCommit(const PersistentStore& now, std::uint64_t commit, FeatureId searchedName);
  ~StoreAtCommit() override;

  std::uint64_t commit() const { return commit_; }
  // Throws StoreError when the changes after its commit are no longer all
  // kept (they are forgotten as time goes on), naming the oldest commit
  // that can be read.
  void checkReadable() const;
  // Forgets what it read (the objects touched since, each one's state), to
  // be read anew when next asked: a view kept for long holds no more than
  // its commit's number between its uses.
  void forget();

  bool exists(ObjectId id) const override;
  ClassId classOf(ObjectId id) const override;
  std::vector<ObjectId> instancesOf(std::span<const ClassId> classes) const override;
  std::size_t objectCount() const override;
  std::optional<StoredValue> value(ObjectId id, FeatureId feature) const override;
  std::vector<ObjectId> holdingValue(FeatureId feature, const StoredValue& value) const override;
  std::vector<ObjectId> namesMatching(name_search::Match match, std::u16string_view folded,
                                      std::size_t most) const override;
  std::vector<ObjectId> roots() const override;
  ObjectId reference(ObjectId id, FeatureId feature) const override;
  VornLong memberCount(ObjectId id, FeatureId feature) const override;
  bool hasMember(ObjectId id, FeatureId feature, ObjectId member) const override;
  ObjectId memberAt(ObjectId id, FeatureId feature, VornLong index) const override;
  std::vector<ObjectId> members(ObjectId id, FeatureId feature) const override;
  VornLong memberIndex(ObjectId id, FeatureId feature, ObjectId member) const override;
  std::vector<ObjectId> referrers(FeatureId feature, ObjectId target) const override;
  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) const override;
  std::vector<StoredValue> values(ObjectId id, FeatureId feature) const override;
  std::vector<FeatureId> writtenFeatures(ObjectId id) const override;

  // The log as it was: the commits up to this one.
  std::uint64_t lastCommit() const override { return commit_; }
  std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                         std::size_t mostObjects) const override;
  std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                      std::size_t most) const override;
  std::optional<CommitRecord> commitAt(std::uint64_t sequence,
                                       std::size_t mostChanges) const override;

 protected:
  // Every write is refused: the past is read, not changed.
  ObjectId createObject(ClassId classId) override;
  void eraseObject(ObjectId id) override;
  void reviveObject(ObjectId id, ClassId classId) override;
  void writeValue(ObjectId id, FeatureId feature, const StoredValue& value) override;
  void eraseValue(ObjectId id, FeatureId feature) override;
  void writeReference(ObjectId id, FeatureId feature, ObjectId target) override;
  bool addMemberAt(ObjectId id, FeatureId feature, ObjectId member, VornLong position) override;
  void dropMember(ObjectId id, FeatureId feature, ObjectId member) override;
  void dropMembers(ObjectId id, FeatureId feature) override;
  void writeValues(ObjectId id, FeatureId feature, std::vector<StoredValue> values) override;
  std::uint64_t nextKeptChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                 std::uint64_t after) const override;
  void beginTransaction(bool writes) override;
  void commitChanges(std::span<CommitRecord> records) override;
  void rollbackChanges() override {}
  void markCall() override {}
  void rollbackToMark() override {}
  void releaseMark() override {}
  void writeRoot(ObjectId, bool) override {}

 private:
  // An object a commit since touched, as it was at the commit: whether it
  // existed, its class, and each slot a change since wrote.
  struct Past {
    bool existed = false;
    ClassId classId = 0;
    // Whether a slot not below is as the store holds it now: not when a
    // commit since brought the object back (an undo), which made it anew.
    bool restAsNow = true;
    std::map<FeatureId, std::optional<StoredValue>> values;
    std::map<FeatureId, ObjectId> references;
    std::map<FeatureId, std::vector<ObjectId>> collections;
    std::map<FeatureId, std::vector<StoredValue>> lists;
  };

  // Takes in the commits made, and what is not committed yet, since the
  // view last looked.
  void catchUp() const;
  bool touched(ObjectId id) const;
  // The object as it was, when a commit since touched it; null otherwise.
  const Past* pastOf(ObjectId id) const;
  Past undone(ObjectId id) const;
  // The objects touched since the commit, in number order. One listed as
  // made may have been there at it: removed and brought back in one call.
  std::vector<ObjectId> touchedSince() const;
  // `found` (the store's answer now) less the objects touched since the
  // commit, with those of them that existed at it and `keep` says hold.
  template <class Keep>
  std::vector<ObjectId> corrected(std::vector<ObjectId> found, Keep keep) const;
  // One slot as it was: from the object's past where a change since wrote
  // it, else (`readNow`) as the store holds it now, else empty.
  template <class Slots, class ReadNow>
  typename Slots::mapped_type slotAt(ObjectId id, FeatureId feature, Slots Past::*slots,
                                     ReadNow readNow) const;
  // Whether the collection reads as the store holds it now.
  static bool collectionAsNow(const Past* past, FeatureId feature);
  [[noreturn]] void refuseWrite() const;

  const PersistentStore& now_;
  std::uint64_t commit_;
  FeatureId searchedName_;
  mutable std::uint64_t seen_ = 0;                // the store's last commit when last looked
  mutable std::unordered_set<ObjectId> touched_;  // by the commits since
  mutable std::uint64_t seenVersion_ = 0;         // of what is not committed yet
  mutable std::vector<CommitRecord> pending_;     // that, with its changes spelled out
  mutable std::unordered_set<ObjectId> pendingTouched_;
  mutable std::unordered_map<ObjectId, std::unique_ptr<Past>> pasts_;
};
