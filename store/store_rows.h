#pragma once

// The rows of a repository in a database, and nothing more: what a
// CachedStore reads and writes through, one database engine behind each
// (SQLite, PostgreSQL). Every write belongs to the transaction begun by the
// last begin(); reads see what it wrote so far.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "store/persistent_store.h"

// One part of an object, as the rows give it: its class (Class: `feature`
// is the class), a value (Value), a single reference (Reference: `a` is the
// target), or the features it holds members (Members) or listed values
// (Values) of.
struct ObjectPart {
  enum Kind : std::uint8_t { Class, Value, Reference, Members, Values };
  ObjectId object = 0;
  Kind kind = Class;
  FeatureId feature = 0;
  std::int64_t a = 0;  // a value's class, a reference's target
  std::int64_t b = 0;  // a value's number
  std::u16string text;
};

// What the rows say when a transaction begins: the repository's counts and
// what others committed since the last transaction this store began.
struct RowsState {
  std::uint64_t lastCommit = 0;
  ObjectId nextNumber = 1;
  std::size_t objectCount = 0;
  // Others' commits since: the objects they changed or deleted, and whether
  // they were too many to list (then `stale` is empty and all is stale).
  bool othersCommitted = false;
  bool allStale = false;
  std::vector<ObjectId> stale;
};

class StoreRows {
 public:
  virtual ~StoreRows() = default;

  // Where the rows are, for messages: "the repository file '...'".
  virtual std::string describe() const = 0;

  // Transactions. `shared`: others change these rows too, so every
  // transaction, reading ones included, begins with begin(); a store of its
  // own begins only to write, and keeps its own counts.
  virtual bool shared() const = 0;
  virtual RowsState begin(bool writes) = 0;
  // Writes the next number, the count and the commit log's rows (one for
  // each call that changed anything, their sequences given), then commits.
  virtual void commit(ObjectId nextNumber, std::size_t objectCount,
                      std::span<const CommitRecord> records) = 0;
  virtual void rollback() = 0;
  // A savepoint in the transaction, where a call held for a group commit
  // ends and the next begins: taking it, undoing what was written since,
  // and forgetting it. Shared rows hold calls only in a writing
  // transaction, whose lock keeps every other writer out until it commits.
  virtual void mark() { throw StoreError(describe() + " holds no calls for a later commit"); }
  virtual void rollbackToMark() { mark(); }
  virtual void releaseMark() { mark(); }
  // Whether another program committed to rows that are not shared since
  // this was last asked (someone with the sqlite3 tool): then nothing read
  // before may be trusted. Asked between transactions.
  virtual bool othersWrote() { return false; }
  // What begin() says, read outside any transaction: at opening.
  virtual RowsState current() = 0;

  // Reading objects.
  virtual void readObject(ObjectId id, std::vector<ObjectPart>& parts) = 0;
  // Every part of the objects numbered `first` to `last`.
  virtual void readObjects(ObjectId first, ObjectId last, std::vector<ObjectPart>& parts) = 0;
  // A collection as (member, next) pairs, in no order.
  virtual std::vector<std::pair<ObjectId, ObjectId>> readChain(ObjectId id, FeatureId feature) = 0;
  virtual std::vector<StoredValue> readValues(ObjectId id, FeatureId feature) = 0;
  // What refers to each object numbered `first` to `last` (by a single
  // reference or a collection), read with them, so that navigating back
  // from them costs no more questions; false for rows that answer such
  // questions as cheaply one by one (nothing is read then).
  struct Incoming {
    ObjectId target;
    FeatureId feature;
    ObjectId referrer;
  };
  virtual bool readIncoming(ObjectId first, ObjectId last, std::vector<Incoming>& incoming) = 0;
  // The collections of the objects numbered `first` to `last`, as readChain
  // gives them, when they hold at most `most` members in all; false when
  // they hold more, or for rows that answer readChain as cheaply.
  struct Link {
    ObjectId object;
    FeatureId feature;
    ObjectId member, next;
  };
  virtual bool readChains(ObjectId first, ObjectId last, std::size_t most,
                          std::vector<Link>& links) = 0;

  // The indexes; each answer in creation order.
  virtual std::vector<ObjectId> instances(ClassId classId) = 0;
  virtual std::vector<ObjectId> holding(FeatureId feature, const StoredValue& value) = 0;
  virtual std::vector<ObjectId> namesMatching(name_search::Match match,
                                              std::u16string_view folded, std::size_t most) = 0;
  // What holds `target` in its single reference or collection `feature`.
  virtual std::vector<ObjectId> referring(FeatureId feature, ObjectId target) = 0;
  // The index of roots (StoreOptions::roots), the rows were opened with:
  // every object in it, and, written in a transaction, one object's place.
  virtual StoreOptions::Roots rootsKept() const = 0;
  virtual std::vector<ObjectId> readRoots() = 0;
  virtual void writeRoot(ObjectId id, bool root) = 0;
  virtual std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) = 0;

  // Writing.
  virtual void addObject(ObjectId id, ClassId classId) = 0;
  virtual void removeObject(ObjectId id) = 0;
  virtual void setAttribute(ObjectId id, FeatureId feature, const StoredValue& value) = 0;
  virtual void clearAttribute(ObjectId id, FeatureId feature) = 0;
  virtual void setReference(ObjectId id, FeatureId feature, ObjectId target) = 0;
  virtual void clearReference(ObjectId id, FeatureId feature) = 0;
  virtual void addMember(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) = 0;
  virtual void removeMember(ObjectId id, FeatureId feature, ObjectId member) = 0;
  virtual void relink(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) = 0;
  virtual void clearMembers(ObjectId id, FeatureId feature) = 0;
  virtual void setValues(ObjectId id, FeatureId feature,
                         const std::vector<StoredValue>& values) = 0;

  // The commit log, and its history (as PersistentStore has them). The
  // records commit() writes carry their changes.
  virtual std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                                 std::size_t mostObjects) = 0;
  virtual std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                              std::size_t most) = 0;
  virtual std::optional<CommitRecord> commitAt(std::uint64_t sequence, std::size_t mostChanges) = 0;
  virtual std::uint64_t nextChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                     std::uint64_t after) = 0;
  // Forgets the changes of the commits made before `timeMicros`, in the
  // transaction begun; their rows of the log stay.
  virtual void forgetHistoryBefore(std::int64_t timeMicros) = 0;
};
