#pragma once

// Where a repository's persistent objects live. The interface is what the
// model library needs, in operations a store can answer from its own
// indexes: no question it answers needs a walk over the whole repository.
// Three stores stand behind it: one in memory (makeMemoryStore), one in a
// database file and one in a PostgreSQL database that several servers share
// (store/).
//
// Objects are numbered from 1 in creation order; a removed object's number
// is never given again. (A surrogate that is destroyed releases only itself:
// removing is an explicit act.) Each object holds slots, one per feature
// written: a value, a single reference, a collection of objects or a list
// of values.
//
// Changes are grouped: commit() keeps every change since the last commit,
// rollback() undoes them all. A server begins each call with beginCall(),
// which says whether the call may write; the call's reads see one state of
// the repository, and its commit adds one row to the commit log when it
// changed anything. A server may hold calls with commitLater, to commit the
// changes of several in one write (a group commit); rollback() then undoes
// the call in progress alone.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/id_runs.h"
#include "store/name_search.h"
#include "store/store_options.h"
#include "store/vorn_types.h"
#include "store/store_api.h"

// A data value at rest: its class and its payload (text or number).
struct StoredValue {
  ValueClassId valueClass = 0;
  std::int32_t number = 0;
  std::u16string text;

  friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

// A store that cannot do what it was asked: its file cannot be read or
// written, is full, or is not a repository.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How large a repository may grow, and how much one transaction (one call)
// may make: no call can grow the repository without bound or keep the
// server busy for long.
struct StoreLimits {
  std::size_t mostObjects = 10'000'000;
  std::size_t mostCreatedPerTransaction = 100'000;
};

// How long the history of each commit (SlotChange) is kept. The commit log's
// rows themselves are always kept.
struct HistoryRetention {
  enum Mode : std::uint8_t { All, Days, None };
  Mode mode = All;
  unsigned days = 0;  // for Days

  friend bool operator==(const HistoryRetention&, const HistoryRetention&) = default;
};

// How a server uses its store: set once when it starts, read by the model
// library.
struct StoreSettings {
  StoreLimits limits;
  // Where packages are written to and read from as documents; empty when
  // the repository has no document folder.
  std::filesystem::path documentFolder;
  // The largest document read, written or received there, in bytes (an
  // archive's inflated content included). An XMI 1.x import holds under 3
  // times its document at its peak, a UML 2 one about 5 times
  // (docs/development.md has the figures).
  std::uint64_t mostDocumentBytes = std::uint64_t{1} << 30;
  // How much of the repository a store that caches objects over rows keeps
  // between calls (a call may hold up to 256 MiB, or this when more): a
  // model's working set, read again and again, stays in memory.
  std::size_t cacheBytes = std::size_t{256} << 20;
  // While set (a document is read), a cache in front of the store keeps
  // what a quiet server keeps, not what a call may: an import writes its
  // objects and seldom reads one back.
  bool smallCallCache = false;
  // This server's name in the commit log.
  std::string server;
  HistoryRetention history;
};

// What a call is, as far as its transaction goes.
struct CallInfo {
  std::string principal;  // whom it is made for; empty for nobody in particular
  bool writes = true;     // false: it only reads, and never waits for a writer
};

// An object a commit touched, with the class it was created as.
struct TouchedObject {
  ObjectId id = 0;
  ClassId classId = 0;

  friend bool operator==(const TouchedObject&, const TouchedObject&) = default;
};

// One change a commit made, with what it replaced: the history that undo
// reads backwards.
struct SlotChange {
  enum Kind : std::uint8_t {
    Created,    // the object was made (or brought back); `feature` is its class
    Deleted,    // the object was removed, after changes emptying each slot; `feature` is its class
    Value,      // a value slot: `before` and `after` hold one value each, or none (unwritten)
    Reference,  // a single reference: `beforeTarget`, `afterTarget` (0 for unset)
    Added,      // `afterTarget` joined the collection at `position`
    Removed,    // `beforeTarget` left the collection from `position`
    Values,     // a list of values: `before`, `after`
  };
  Kind kind = Value;
  ObjectId object = 0;
  FeatureId feature = 0;
  VornLong position = -1;
  ObjectId beforeTarget = 0, afterTarget = 0;
  std::vector<StoredValue> before = {}, after = {};

  // Whether its slot is the object itself (made or removed).
  bool changesWholeObject() const { return kind == Created || kind == Deleted; }
  // Whether it changes slot `slot` of its object (for nothing: anything of it).
  bool changesSlot(std::optional<FeatureId> slot) const {
    return !slot || changesWholeObject() || feature == *slot;
  }

  friend bool operator==(const SlotChange&, const SlotChange&) = default;
};

// Whether `changes`, a commit's that touched `object`, changed its slot
// `slot` (for nothing: anything of it). Changes not kept (none listed)
// might have.
inline bool mayHaveChanged(const std::vector<SlotChange>& changes, ObjectId object,
                           std::optional<FeatureId> slot) {
  if (changes.empty()) return true;
  for (const SlotChange& change : changes) {
    if (change.object == object && change.changesSlot(slot)) return true;
  }
  return false;
}

// One row of the commit log: a call that changed the repository. Objects
// are each in one list, in number order: one made and removed by the same
// call is in none. `changes` is its history, in the order made: empty where
// history is not kept, or not read.
struct CommitRecord {
  std::uint64_t sequence = 0;   // from 1, one per commit, in commit order
  std::int64_t timeMicros = 0;  // since the Unix epoch
  std::string principal;
  std::string server;
  std::vector<TouchedObject> created, changed, deleted;
  // Objects made whose history is their making alone, as an import makes
  // them: each one's change is Created (its class), before every change
  // of `changes`, in the order made (of their numbers). Kept as runs of
  // numbers, not a change each, so that a commit of millions of objects
  // takes a few bytes an object. withMadeChanges spells them out.
  IdRuns madeBriefly;
  std::vector<SlotChange> changes;
  // Read with a bound (commitAt): how many changes came after `changes`
  // and were not read.
  std::size_t changesLeftOut = 0;

  friend bool operator==(const CommitRecord&, const CommitRecord&) = default;
};

// How many objects the commit touched: made, changed and removed.
inline std::size_t touchedCount(const CommitRecord& record) {
  return record.created.size() + record.changed.size() + record.deleted.size();
}

// The record with each object made briefly given its Created change.
STORE_API CommitRecord withMadeChanges(CommitRecord record);

class STORE_API PersistentStore {
 public:
  virtual ~PersistentStore();

  // Objects ----------------------------------------------------------------

  // A new object of `classId`; its slots are all unwritten. Throws
  // StoreError when the repository holds its most objects, or this
  // transaction has made its most.
  ObjectId create(ClassId classId);
  virtual bool exists(ObjectId id) const = 0;
  // The class the object was created as; 0 for no object.
  virtual ClassId classOf(ObjectId id) const = 0;
  // The objects created as any of `classes`, in creation order.
  virtual std::vector<ObjectId> instancesOf(std::span<const ClassId> classes) const = 0;
  // How many objects there are (not the highest number: removed ones do not
  // count).
  virtual std::size_t objectCount() const = 0;
  // Removes the object: every slot it wrote, with the indexes in step, then
  // the object itself, so that exists is false for it, classOf gives 0 and
  // no index answers it. What refers to it is the caller's to clear first
  // (referrers finds that). Throws std::invalid_argument for no object.
  void removeObject(ObjectId id);
  // Brings back a removed object with its number and class, its slots all
  // unwritten: undoing a removal. Throws std::invalid_argument for a number
  // that is in use or was never given.
  void restoreObject(ObjectId id, ClassId classId);

  // Values -----------------------------------------------------------------

  // A value slot; nothing when never written.
  virtual std::optional<StoredValue> value(ObjectId id, FeatureId feature) const = 0;
  void setValue(ObjectId id, FeatureId feature, const StoredValue& value);
  // Makes a value slot unwritten again.
  void clearValue(ObjectId id, FeatureId feature);
  // The objects whose value slot `feature`, or list of values `feature`,
  // holds the payload of `value` (its number and text, whatever its value
  // class), in creation order.
  virtual std::vector<ObjectId> holdingValue(FeatureId feature, const StoredValue& value) const = 0;

  // The objects whose searched name (StoreOptions::searchedName), folded as
  // search folds it (store/name_search.h), matches the folded text so, in
  // the folded names' order: at most `most`. From the store's index of
  // names, at the cost of what matches; nothing where it indexes no name.
  virtual std::vector<ObjectId> namesMatching(name_search::Match match,
                                              std::u16string_view folded,
                                              std::size_t most) const = 0;

  // The objects of StoreOptions::roots' classes that nothing owns, in
  // creation order: from the store's index of them, at the cost of what it
  // answers; nothing where it keeps none. What a transaction changes shows
  // once it commits.
  virtual std::vector<ObjectId> roots() const = 0;
  // Which roots those are: the store's StoreOptions::roots.
  const StoreOptions::Roots& rootsKept() const { return roots_; }

  // References and collections ----------------------------------------------

  // A single reference; 0 when unset.
  virtual ObjectId reference(ObjectId id, FeatureId feature) const = 0;
  // Sets (or with 0 clears) a single reference.
  void setReference(ObjectId id, FeatureId feature, ObjectId target);

  // An object collection: ordered, each member once; empty when never written.
  virtual VornLong memberCount(ObjectId id, FeatureId feature) const = 0;
  virtual bool hasMember(ObjectId id, FeatureId feature, ObjectId member) const = 0;
  // Throws std::out_of_range outside the collection.
  virtual ObjectId memberAt(ObjectId id, FeatureId feature, VornLong index) const = 0;
  virtual std::vector<ObjectId> members(ObjectId id, FeatureId feature) const = 0;
  // The member's place; -1 when it is none.
  virtual VornLong memberIndex(ObjectId id, FeatureId feature, ObjectId member) const = 0;
  // Adds `member` before the one at `position` (memberCount appends); false
  // when it is a member already. Throws std::out_of_range outside
  // 0..memberCount.
  bool insertMember(ObjectId id, FeatureId feature, ObjectId member, VornLong position);
  // False when `member` was no member.
  bool removeMember(ObjectId id, FeatureId feature, ObjectId member);
  void clearMembers(ObjectId id, FeatureId feature);

  bool appendMember(ObjectId id, FeatureId feature, ObjectId member) {
    return insertMember(id, feature, member, memberCount(id, feature));
  }

  // The objects whose single reference or collection `feature` holds
  // `target`, in creation order.
  virtual std::vector<ObjectId> referrers(FeatureId feature, ObjectId target) const = 0;
  // Every feature and object whose single reference or collection holds
  // `target`, whatever the feature: what removing `target` must clear. In
  // feature order, then creation order.
  virtual std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) const = 0;

  // Lists of values ----------------------------------------------------------

  // Empty when never written.
  virtual std::vector<StoredValue> values(ObjectId id, FeatureId feature) const = 0;
  void setValues(ObjectId id, FeatureId feature, std::vector<StoredValue> values);

  // The features whose slots the object has written (a value, a reference,
  // a collection or a list of values, which may have been emptied since),
  // in feature order: what a walk over an object's contents asks about,
  // instead of every feature its class has.
  virtual std::vector<FeatureId> writtenFeatures(ObjectId id) const = 0;

  // Transactions -------------------------------------------------------------

  // Begins a call's transaction, undoing what an earlier call left
  // unsettled. A store that others change too brings what it holds up to
  // date here. Throws StoreError when the store cannot be reached. Without
  // it, the first change begins a writing transaction for nobody.
  void beginCall(const CallInfo& call);
  // Keeps every change since the last commit, with a row in the commit log
  // for each call that changed anything (the calls held and this one).
  // Throws StoreError when they cannot be kept; they are all undone then.
  void commit();
  // Ends the call without keeping it yet: its changes stay in the
  // transaction, and its row of the commit log waits for the next commit(),
  // which keeps it with the calls after it, in one write to disk (a group
  // commit). The next beginCall begins the next call in the same
  // transaction, so that rollback() undoes that call alone. When the store
  // cannot hold the call, this commits.
  void commitLater();
  // Whether commitLater would hold the call in progress (a store that
  // others change too holds calls only while it keeps them out), and
  // whether some are held.
  virtual bool holdsCommits() const { return true; }
  bool holding() const { return holding_; }
  // Undoes the call's changes: every change since the last commit, or,
  // when calls are held, since the call began.
  void rollback();

  // The commit log ------------------------------------------------------------

  // The sequence number of the last commit; 0 before the first.
  virtual std::uint64_t lastCommit() const = 0;
  // The number the call in progress will commit as, when it changes
  // something: after the last commit and the calls held.
  std::uint64_t commitOfCall() const { return lastCommit() + held_.size() + 1; }
  // What is changed and not committed yet: the held calls' rows, then the
  // call in progress's, oldest first, numbered as their commits will be,
  // each with its changes where the history keeps them. What reading at an
  // earlier commit undoes before the log's own commits.
  std::vector<CommitRecord> uncommitted() const;
  // Another number whenever what uncommitted() answers may have changed.
  std::uint64_t uncommittedVersion() const { return uncommittedVersion_; }
  // The commits after `sequence`, oldest first, at most `most` of them,
  // without their changes; and no more than the objects they touched fit in
  // `mostObjects` (the first is there whole, however many it touched). What
  // is read stays within what a page holds: the commits past the budget are
  // not read at all.
  virtual std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                                 std::size_t mostObjects) const = 0;

  // History (where settings().history keeps it) ------------------------------

  // Whether the store keeps each commit's changes now.
  bool keepsHistory() const { return settings_.history.mode != HistoryRetention::None; }
  // While on (the call reads a document), the objects the call makes are
  // kept in its history as made, without each slot written in them: what
  // they hold when the call ends is what they were made with, and undoing
  // the call removes them all the same. What the call changes in objects
  // that were there before is kept as always.
  void recordMadeObjectsBriefly(bool on) { brief_ = on; }

  // The commits that touched `object` before sequence `before` (0: all),
  // newest first, at most `most`, each with its changes to that object
  // alone. Found by the object, never by reading the log through.
  virtual std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                              std::size_t most) const = 0;
  // One commit with its first `mostChanges` changes, and the count of the
  // rest, holding no more than twice that many in memory at any time;
  // nothing for no such commit. Its changes are empty when its history was
  // not kept.
  virtual std::optional<CommitRecord> commitAt(std::uint64_t sequence,
                                               std::size_t mostChanges) const = 0;
  // The first commit after `after` that changed slot `feature` of `object`
  // (or, for nothing, any slot of it, or made or removed it); 0 for none. A
  // commit that touched the object without its changes kept counts: it
  // might have. Calls held for a group commit count too, with the numbers
  // their commit will give them.
  std::uint64_t nextChangeOf(ObjectId object, std::optional<FeatureId> feature,
                             std::uint64_t after) const;

  const StoreSettings& settings() const { return settings_; }
  StoreSettings& settings() { return settings_; }

 protected:
  // What each store does for create, begin, commit and rollback. `record`
  // is null for a transaction that changed nothing; the store gives it its
  // sequence number.
  virtual ObjectId createObject(ClassId classId) = 0;
  // What each store does for the changes above; the base class notes them
  // for the commit log and its history first.
  virtual void eraseObject(ObjectId id) = 0;
  virtual void reviveObject(ObjectId id, ClassId classId) = 0;
  virtual void writeValue(ObjectId id, FeatureId feature, const StoredValue& value) = 0;
  virtual void eraseValue(ObjectId id, FeatureId feature) = 0;
  virtual void writeReference(ObjectId id, FeatureId feature, ObjectId target) = 0;
  virtual bool addMemberAt(ObjectId id, FeatureId feature, ObjectId member, VornLong position) = 0;
  virtual void dropMember(ObjectId id, FeatureId feature, ObjectId member) = 0;
  virtual void dropMembers(ObjectId id, FeatureId feature) = 0;
  virtual void writeValues(ObjectId id, FeatureId feature, std::vector<StoredValue> values) = 0;
  // nextChangeOf among the commits kept.
  virtual std::uint64_t nextKeptChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                         std::uint64_t after) const = 0;
  virtual void beginTransaction(bool writes) = 0;
  // Keeps every change since the last commit, with `records` (one for each
  // call that changed anything, oldest first; the store gives each its
  // sequence number). On failure it may leave the changes to
  // rollbackChanges.
  virtual void commitChanges(std::span<CommitRecord> records) = 0;
  // Undoes every change since the last commit.
  virtual void rollbackChanges() = 0;
  // For held calls: marks where the call beginning now starts, undoes what
  // was changed since, or forgets the mark (the call is held). Only one
  // mark is taken at a time.
  virtual void markCall() = 0;
  virtual void rollbackToMark() = 0;
  virtual void releaseMark() = 0;
  // The roots the store keeps (its constructor says), and what its index
  // holds of one object: written at each commit, in its transaction, for
  // every object whose ownership the commit's changes may have changed.
  void keepRoots(StoreOptions::Roots roots) { roots_ = std::move(roots); }
  virtual void writeRoot(ObjectId id, bool root) = 0;

 private:
  enum class Touch { Created, Changed, Deleted };
  struct Touched {
    ObjectId id;
    ClassId classId;
    Touch touch;
  };
  // Notes what a change touches, for the commit log, before it is made.
  // Throws StoreError in a call begun as one that only reads.
  void note(ObjectId id, ClassId classId, Touch touch);
  void noteChanged(ObjectId id);
  void remember(SlotChange change);
  // Whether the history keeps each change of the object's slots.
  bool recordsSlotsOf(ObjectId id) const {
    return keepsHistory() && !(brief_ && madeBriefly_.contains(id));
  }
  // The changes that empty each written slot of the object, as its removal
  // makes them.
  void rememberSlotsOf(ObjectId id);
  // The commit log's row for what the call touched; empty lists when it
  // touched nothing.
  CommitRecord recordOfTouches() const;
  // Puts the call's row, when it changed anything, with those held.
  void holdRecordOfCall();
  // Forgets the call: what it touched, and whom it was for.
  void endCall();
  // Undoes every change since the last commit, held calls' too; the next
  // commit() says they were lost.
  void abandonHeld();
  // Notes an object whose ownership a change may alter, when it is of a
  // root's class; the members of a collection `collection` of `id` too.
  void noteOwned(ObjectId id);
  void noteOwnedMembers(ObjectId id);
  // Writes each noted object's place in the index of roots, as the store
  // reads it now.
  void settleRoots();

  StoreSettings settings_;
  CallInfo call_;
  std::vector<Touched> touches_;
  std::vector<SlotChange> changes_;  // the call's history, where it is kept
  bool brief_ = false;
  IdRuns madeBriefly_;  // made by the call while brief
  // Made by the call: a change to one is in the log as its making.
  IdRuns madeInCall_;
  std::size_t createdInTransaction_ = 0;
  std::vector<CommitRecord> held_;  // the held calls' rows, oldest first
  std::uint64_t uncommittedVersion_ = 0;
  bool holding_ = false;            // calls are held for the next commit
  bool marked_ = false;             // the call in progress began at a mark
  bool heldLost_ = false;           // held calls were undone before their commit
  StoreOptions::Roots roots_;
  std::vector<ObjectId> ownershipChanged_;  // since the last commit, for settleRoots
};

// Keeps every object in memory for the life of the process. Its indexes are
// those of every store; rollback undoes from a log of the changes made since
// the last commit, so an owner commits after each call (as qovixd does) or
// the log grows with every change.
// Of the options, it keeps the index of names (searchedName) and of roots.
STORE_API std::unique_ptr<PersistentStore> makeMemoryStore(const StoreOptions& options = {});

// Merges lists that are each in creation order into one, without sorting.
STORE_API std::vector<ObjectId> mergeInCreationOrder(std::vector<std::vector<ObjectId>> lists);
