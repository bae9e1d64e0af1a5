// What every store must do, checked on each: the memory store and the
// SQLite store (in a fresh file). The indexes must agree with the slots
// they index after every kind of change, and rollback must undo exactly
// what came after the last commit.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <tuple>

#include "store/postgres_store.h"
#include "store/sqlite_store.h"
#include "store/store_at_commit.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_postgres.h"

namespace {

using Ids = std::vector<ObjectId>;
using Touched = std::vector<TouchedObject>;

constexpr FeatureId kName = 1, kSize = 2, kOwner = 3, kMembers = 4, kItems = 5;
constexpr ClassId kPlain = 10, kOther = 11, kPackage = 12;

StoredValue text(std::u16string value) { return {7, 0, std::move(value)}; }
StoredValue number(std::int32_t value) { return {8, value, {}}; }

// Each store indexes kName's text for search by name, and the packages
// that no kOwner reference and no kMembers collection own.
StoreOptions indexing() {
  StoreOptions options;
  options.searchedName = kName;
  options.roots = {{kPackage}, kOwner, kMembers};
  return options;
}

// A kind of store, opened on a file in a fresh folder or on a fresh
// PostgreSQL database (a --store value), as it uses.
struct StoreKind {
  const char* name;
  std::function<std::unique_ptr<PersistentStore>(const std::filesystem::path&, const std::string&)>
      open;
  bool needsPostgres = false;
};

class StoreContract : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    if (GetParam().needsPostgres) {
      if (!testPostgres()) GTEST_SKIP() << "no test PostgreSQL (QOVIX_TEST_POSTGRES)";
      database_ = freshPostgresDatabase();
    }
    store_ = open();
  }
  std::unique_ptr<PersistentStore> open() {
    return GetParam().open(folder_.path() / "r.sqlite3", database_);
  }

  TemporaryFolder folder_;
  std::string database_;
  std::unique_ptr<PersistentStore> store_;
};

TEST_P(StoreContract, ObjectsAreNumberedAndListedByClassInCreationOrder) {
  PersistentStore& s = *store_;
  const ObjectId a = s.create(kPlain), b = s.create(kOther), c = s.create(kPlain);
  EXPECT_EQ((Ids{a, b, c}), (Ids{1, 2, 3}));
  EXPECT_EQ(s.objectCount(), 3u);
  EXPECT_TRUE(s.exists(b));
  EXPECT_FALSE(s.exists(0));
  EXPECT_FALSE(s.exists(4));
  EXPECT_EQ(s.classOf(b), kOther);
  EXPECT_EQ(s.classOf(9), 0u);
  const ClassId both[] = {kOther, kPlain, 99};
  EXPECT_EQ(s.instancesOf(both), (Ids{a, b, c}));
}

TEST_P(StoreContract, ValuesAreFoundByWhatTheyHoldAndNoLongerByWhatTheyHeld) {
  PersistentStore& s = *store_;
  const ObjectId a = s.create(kPlain), b = s.create(kPlain), c = s.create(kPlain);
  EXPECT_FALSE(s.value(a, kName));
  s.setValue(c, kName, text(u"Account"));
  s.setValue(a, kName, text(u"Account"));
  s.setValue(b, kName, text(u"Bank"));
  s.setValue(a, kSize, number(-5));
  EXPECT_EQ(s.value(a, kName), text(u"Account"));
  EXPECT_EQ(s.holdingValue(kName, text(u"Account")), (Ids{a, c}));
  EXPECT_EQ(s.holdingValue(kSize, number(-5)), (Ids{a}));
  EXPECT_EQ(s.holdingValue(kName, StoredValue{0, 0, u"Account"}), (Ids{a, c})) << "any class";
  s.setValue(a, kName, text(u"Bank"));
  EXPECT_EQ(s.holdingValue(kName, text(u"Account")), (Ids{c}));
  EXPECT_EQ(s.holdingValue(kName, text(u"Bank")), (Ids{a, b}));
  EXPECT_TRUE(s.holdingValue(kSize, text(u"Bank")).empty()) << "another feature";
  s.setValue(b, kName, text(u"Bank"));
  EXPECT_EQ(s.holdingValue(kName, text(u"Bank")), (Ids{a, b})) << "set to what it held";
}

TEST_P(StoreContract, ReferrersFollowReferencesAndCollections) {
  PersistentStore& s = *store_;
  const ObjectId owner = s.create(kPlain), x = s.create(kPlain), y = s.create(kPlain);
  s.setReference(y, kOwner, owner);
  s.setReference(x, kOwner, owner);
  EXPECT_EQ(s.reference(x, kOwner), owner);
  EXPECT_EQ(s.referrers(kOwner, owner), (Ids{x, y}));
  s.setReference(x, kOwner, y);
  s.setReference(y, kOwner, 0);
  EXPECT_TRUE(s.referrers(kOwner, owner).empty());
  EXPECT_EQ(s.referrers(kOwner, y), (Ids{x}));
  EXPECT_EQ(s.reference(y, kOwner), 0u);

  s.appendMember(y, kMembers, owner);
  s.appendMember(x, kMembers, owner);
  EXPECT_EQ(s.referrers(kMembers, owner), (Ids{x, y}));
  EXPECT_TRUE(s.removeMember(y, kMembers, owner));
  s.clearMembers(x, kMembers);
  EXPECT_TRUE(s.referrers(kMembers, owner).empty());
}

// Random inserts and removals at every place, checked against a plain list.
TEST_P(StoreContract, CollectionsKeepTheirOrderThroughChurn) {
  PersistentStore& s = *store_;
  const ObjectId owner = s.create(kPlain);
  Ids expected;
  std::mt19937 random(7);
  for (int step = 0; step < 3000; ++step) {
    const ObjectId member = 1 + random() % 400;
    const auto found = std::find(expected.begin(), expected.end(), member);
    if (found != expected.end() && random() % 3 != 0) {
      ASSERT_TRUE(s.removeMember(owner, kMembers, member));
      expected.erase(found);
    } else {
      const auto at = static_cast<VornLong>(random() % (expected.size() + 1));
      const bool added = s.insertMember(owner, kMembers, member, at);
      ASSERT_EQ(added, found == expected.end());
      if (added) expected.insert(expected.begin() + at, member);
    }
    if (step % 500 == 0) s.commit();
  }
  EXPECT_EQ(s.members(owner, kMembers), expected);
  EXPECT_EQ(s.memberCount(owner, kMembers), static_cast<VornLong>(expected.size()));
  EXPECT_EQ(s.memberAt(owner, kMembers, 3), expected[3]);
  EXPECT_TRUE(s.hasMember(owner, kMembers, expected.back()));
  EXPECT_FALSE(s.removeMember(owner, kMembers, 999));
  EXPECT_FALSE(s.insertMember(owner, kMembers, expected[0], 0)) << "a member already";
  EXPECT_THROW(s.insertMember(owner, kMembers, 998, -1), std::out_of_range);
  EXPECT_THROW(s.memberAt(owner, kMembers, s.memberCount(owner, kMembers)), std::out_of_range);
  s.commit();
  store_.reset();
  store_ = open();
  if (GetParam().name != std::string("memory")) {
    EXPECT_EQ(store_->members(owner, kMembers), expected) << "as kept in the file";
  }
}

// More rows than a batch holds, written while the next are made (the
// file's writing thread): read back in order after a restart, or undone
// whole by a rollback.
TEST_P(StoreContract, ManyRowsAtOnceAreKeptInOrderOrUndoneWhole) {
  constexpr int kMany = 5000;
  const auto nameOf = [](int i) {  // one of its own each, of no common gram
    std::u16string name(u"n");
    name.push_back(static_cast<char16_t>(u'a' + i % 26));
    name.push_back(static_cast<char16_t>(0x4E00 + i));
    return name;
  };
  const auto build = [&](PersistentStore& s, ObjectId owner, Ids& made) {
    for (int i = 0; i < kMany; ++i) {
      const ObjectId member = s.create(kPlain);
      s.setValue(member, kName, text(nameOf(i)));
      s.setReference(member, kOwner, owner);
      ASSERT_TRUE(s.appendMember(owner, kMembers, member));  // relinks the one before
      made.push_back(member);
    }
  };
  const ObjectId owner = store_->create(kPackage);
  Ids members;
  build(*store_, owner, members);
  store_->commit();
  Ids undone;
  build(*store_, owner, undone);
  store_->rollback();
  store_.reset();
  store_ = open();
  if (GetParam().name == std::string("memory")) return;  // nothing outlasts it
  EXPECT_EQ(store_->objectCount(), static_cast<std::size_t>(kMany + 1));
  EXPECT_EQ(store_->members(owner, kMembers), members);
  EXPECT_EQ(store_->referrers(kOwner, owner), members);
  EXPECT_EQ(store_->namesMatching(name_search::Match::Exact, nameOf(4321), 5), Ids{members[4321]});
  EXPECT_FALSE(store_->exists(undone.front()));
}

TEST_P(StoreContract, ValueListsKeepTheirOrder) {
  PersistentStore& s = *store_;
  const ObjectId a = s.create(kPlain);
  EXPECT_TRUE(s.values(a, kItems).empty());
  s.setValues(a, kItems, {text(u"b"), number(3), text(u"")});
  EXPECT_EQ(s.values(a, kItems), (std::vector<StoredValue>{text(u"b"), number(3), text(u"")}));
  s.setValues(a, kItems, {number(4)});
  EXPECT_EQ(s.values(a, kItems), (std::vector<StoredValue>{number(4)}));
}

TEST_P(StoreContract, ListsOfValuesAreFoundByAnyOfTheirValues) {
  PersistentStore& s = *store_;
  const ObjectId a = s.create(kPlain), b = s.create(kPlain);
  s.setValues(b, kItems, {text(u"late"), text(u"lost")});
  s.setValues(a, kItems, {text(u"lost"), text(u"lost")});
  EXPECT_EQ(s.holdingValue(kItems, text(u"lost")), (Ids{a, b}));
  s.commit();
  s.setValues(a, kItems, {text(u"late")});
  EXPECT_EQ(s.holdingValue(kItems, text(u"lost")), (Ids{b}));
  EXPECT_EQ(s.holdingValue(kItems, text(u"late")), (Ids{a, b}));
  s.rollback();
  EXPECT_EQ(s.holdingValue(kItems, text(u"lost")), (Ids{a, b}));
  EXPECT_EQ(s.holdingValue(kItems, text(u"late")), (Ids{b}));
  EXPECT_TRUE(s.holdingValue(kName, text(u"late")).empty()) << "another feature";
}

TEST_P(StoreContract, RollbackUndoesExactlyWhatCameAfterTheLastCommit) {
  PersistentStore& s = *store_;
  const ObjectId a = s.create(kPlain), b = s.create(kPlain);
  s.setValue(a, kName, text(u"kept"));
  s.appendMember(a, kMembers, b);
  s.setReference(b, kOwner, a);
  s.commit();

  const ObjectId c = s.create(kOther);
  s.setValue(a, kName, text(u"undone"));
  s.setValue(c, kName, text(u"kept"));
  s.insertMember(a, kMembers, c, 0);
  s.removeMember(a, kMembers, b);
  s.setReference(b, kOwner, c);
  s.setValues(a, kItems, {number(1)});
  s.rollback();

  EXPECT_EQ(s.objectCount(), 2u);
  EXPECT_FALSE(s.exists(c));
  EXPECT_EQ(s.value(a, kName), text(u"kept"));
  EXPECT_EQ(s.holdingValue(kName, text(u"kept")), (Ids{a}));
  EXPECT_TRUE(s.holdingValue(kName, text(u"undone")).empty());
  EXPECT_EQ(s.members(a, kMembers), (Ids{b}));
  EXPECT_EQ(s.referrers(kMembers, b), (Ids{a}));
  EXPECT_EQ(s.reference(b, kOwner), a);
  EXPECT_EQ(s.referrers(kOwner, a), (Ids{b}));
  EXPECT_TRUE(s.values(a, kItems).empty());
  const ObjectId d = s.create(kOther);
  EXPECT_EQ(d, 3u) << "the undone object's number is free again";

  // What was still to be written goes too, and never reaches the file.
  s.setValue(d, kName, text(u"undone too"));
  s.setReference(d, kOwner, a);
  s.rollback();
  const ObjectId e = s.create(kPlain);
  s.commit();
  if (GetParam().name == std::string("memory")) return;
  store_.reset();
  store_ = open();
  EXPECT_EQ(store_->classOf(e), kPlain);
  EXPECT_FALSE(store_->value(e, kName));
  EXPECT_EQ(store_->reference(e, kOwner), 0u);
  EXPECT_TRUE(store_->holdingValue(kName, text(u"undone too")).empty());
}

// A removed object leaves no slot and no index entry, rollback brings it
// back whole, and its number is never given again.
TEST_P(StoreContract, RemovedObjectsLeaveNothingAndTheirNumbersAreNotGivenAgain) {
  PersistentStore& s = *store_;
  const ObjectId a = s.create(kPlain), b = s.create(kPlain), c = s.create(kOther);
  s.setValue(a, kName, text(u"gone"));
  s.setValues(a, kItems, {text(u"x"), number(2)});
  s.appendMember(a, kMembers, b);
  s.setReference(a, kOwner, b);
  s.setValue(c, kSize, number(9));
  s.setReference(c, kOwner, b);
  s.commit();
  using References = std::vector<std::pair<FeatureId, ObjectId>>;
  EXPECT_EQ(s.referencesTo(b), (References{{kOwner, a}, {kOwner, c}, {kMembers, a}}));
  const ClassId both[] = {kPlain, kOther};
  const auto removedLeavesNothing = [&] {
    EXPECT_FALSE(s.exists(a));
    EXPECT_EQ(s.classOf(a), 0u);
    EXPECT_EQ(s.objectCount(), 2u);
    EXPECT_EQ(s.instancesOf(both), (Ids{b, c}));
    EXPECT_FALSE(s.value(a, kName));
    EXPECT_TRUE(s.writtenFeatures(a).empty());
    EXPECT_TRUE(s.holdingValue(kName, text(u"gone")).empty());
    EXPECT_TRUE(s.holdingValue(kItems, text(u"x")).empty());
    EXPECT_TRUE(s.referrers(kMembers, b).empty());
    EXPECT_EQ(s.referrers(kOwner, b), (Ids{c}));
    EXPECT_EQ(s.referencesTo(b), (References{{kOwner, c}}));
  };
  s.removeObject(a);
  removedLeavesNothing();
  EXPECT_THROW(s.setValue(a, kName, text(u"again")), std::invalid_argument);
  EXPECT_THROW(s.removeObject(a), std::invalid_argument);
  s.rollback();
  EXPECT_EQ(s.objectCount(), 3u);
  EXPECT_EQ(s.value(a, kName), text(u"gone"));
  EXPECT_EQ(s.values(a, kItems), (std::vector<StoredValue>{text(u"x"), number(2)}));
  EXPECT_EQ(s.members(a, kMembers), (Ids{b}));
  EXPECT_EQ(s.referrers(kOwner, b), (Ids{a, c}));
  EXPECT_EQ(s.holdingValue(kName, text(u"gone")), (Ids{a}));

  s.removeObject(a);
  s.removeObject(c);  // the highest number too
  s.commit();
  EXPECT_EQ(s.objectCount(), 1u);
  EXPECT_EQ(s.instancesOf(both), (Ids{b}));
  EXPECT_EQ(s.create(kPlain), 4u);
  EXPECT_TRUE(s.holdingValue(kSize, number(9)).empty());
}

TEST_P(StoreContract, LimitsBoundTheRepositoryAndEachTransaction) {
  PersistentStore& s = *store_;
  s.settings().limits = StoreLimits{.mostObjects = 4, .mostCreatedPerTransaction = 2};
  s.create(kPlain);
  s.create(kPlain);
  EXPECT_THROW(s.create(kPlain), StoreError) << "a third in one transaction";
  s.commit();
  s.create(kPlain);
  s.create(kPlain);
  s.commit();
  EXPECT_THROW(s.create(kPlain), StoreError) << "a fifth in the repository";
  EXPECT_EQ(s.objectCount(), 4u);
}

// A store may read what refers to objects, and their collections, with the
// objects it reads ahead: its answers stay those of the rows, before and
// after changes.
TEST_P(StoreContract, WhatIsReadAheadAnswersAsTheRowsDo) {
  constexpr ObjectId kObjects = 40;
  for (ObjectId i = 1; i <= kObjects; ++i) store_->create(kPlain);
  for (ObjectId i = 1; i <= kObjects; ++i) {
    store_->setReference(i, kOwner, 1 + i % 3);
    store_->appendMember(1 + i % 5, kMembers, i);
  }
  store_->commit();
  const auto answers = [&](PersistentStore& s) {
    std::vector<Ids> found;
    for (ObjectId i = 1; i <= kObjects; ++i) {
      found.push_back(s.referrers(kOwner, i));
      found.push_back(s.referrers(kMembers, i));
      found.push_back(s.members(i, kMembers));
    }
    return found;
  };
  const auto before = answers(*store_);
  if (GetParam().name != std::string("memory")) {
    store_.reset();
    store_ = open();
  }
  PersistentStore& s = *store_;
  for (ObjectId i = 1; i <= kObjects; ++i) ASSERT_TRUE(s.exists(i));  // in order: read ahead
  EXPECT_EQ(answers(s), before);
  EXPECT_EQ(s.referrers(kOwner, 2), (Ids{1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 34, 37, 40}));

  s.setReference(4, kOwner, 40);
  s.appendMember(40, kMembers, 7);
  s.removeMember(3, kMembers, 12);
  EXPECT_EQ(s.referrers(kOwner, 40), (Ids{4}));
  EXPECT_EQ(s.referrers(kOwner, 2), (Ids{1, 7, 10, 13, 16, 19, 22, 25, 28, 31, 34, 37, 40}));
  EXPECT_EQ(s.referrers(kMembers, 7), (Ids{3, 40}));
  EXPECT_TRUE(s.referrers(kMembers, 12).empty());
  s.rollback();
  EXPECT_EQ(answers(s), before);
}

TEST_P(StoreContract, EachCommitThatChangedSomethingIsOneRowOfTheLog) {
  PersistentStore& s = *store_;
  s.settings().server = "here:1";
  s.beginCall({"CN=alice", true});
  const ObjectId a = s.create(kPlain), b = s.create(kPlain), gone = s.create(kPlain);
  s.removeObject(gone);
  s.commit();
  s.beginCall({"CN=bob", true});
  s.setValue(a, kName, text(u"A"));
  s.rollback();
  s.beginCall({"CN=bob", true});
  s.appendMember(b, kMembers, a);
  const ObjectId c = s.create(kOther);
  s.removeObject(a);
  s.commit();
  s.beginCall({"CN=carol", true});
  s.commit();  // changed nothing
  s.beginCall({"CN=carol", false});
  EXPECT_THROW(s.setValue(b, kName, text(u"B")), StoreError) << "a reading call";
  EXPECT_THROW(s.create(kPlain), StoreError);
  s.rollback();
  EXPECT_FALSE(s.value(b, kName));

  EXPECT_EQ(s.lastCommit(), 2u);
  const auto log = s.commitsSince(0, 10, SIZE_MAX);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].sequence, 1u);
  EXPECT_EQ(log[0].principal, "CN=alice");
  EXPECT_EQ(log[0].server, "here:1");
  EXPECT_EQ(log[0].created, (Touched{{a, kPlain}, {b, kPlain}}))
      << "made and removed at once is in no list";
  EXPECT_TRUE(log[0].changed.empty() && log[0].deleted.empty());
  EXPECT_EQ(log[1].sequence, 2u);
  EXPECT_EQ(log[1].principal, "CN=bob");
  EXPECT_EQ(log[1].created, (Touched{{c, kOther}}));
  EXPECT_EQ(log[1].changed, (Touched{{b, kPlain}}));
  EXPECT_EQ(log[1].deleted, (Touched{{a, kPlain}}));
  EXPECT_LE(log[0].timeMicros, log[1].timeMicros);
  EXPECT_GT(log[0].timeMicros, 1'600'000'000'000'000);
  EXPECT_EQ(s.commitsSince(1, 10, SIZE_MAX), (std::vector<CommitRecord>{log[1]}));
  EXPECT_EQ(s.commitsSince(0, 1, SIZE_MAX).size(), 1u);
  EXPECT_TRUE(s.commitsSince(2, 10, SIZE_MAX).empty());
  // A budget of objects: the first commit comes whole whatever it touched,
  // and no commit past the budget comes at all.
  EXPECT_EQ(s.commitsSince(0, 10, 1), (std::vector<CommitRecord>{log[0]}));
  EXPECT_EQ(s.commitsSince(0, 10, 4), (std::vector<CommitRecord>{log[0]}));
  EXPECT_EQ(s.commitsSince(0, 10, 5), log);
}

// Calls held for a group commit: each is undone alone when it fails, later
// calls see what held ones changed, and one commit keeps them all, each
// with its own row of the log. A shared store holds calls only in a
// writing transaction: a reading call alone commits.
TEST_P(StoreContract, HeldCallsAreUndoneAloneAndKeptTogether) {
  PersistentStore& s = *store_;
  s.beginCall({"CN=reader", false});
  EXPECT_EQ(s.objectCount(), 0u);
  s.commitLater();  // held without a transaction: what follows begins one
  s.beginCall({"CN=alice", true});
  const ObjectId a = s.create(kPlain), b = s.create(kPlain);
  s.setValue(a, kName, text(u"A"));
  s.appendMember(a, kMembers, b);
  s.commitLater();
  EXPECT_TRUE(s.holding());
  EXPECT_EQ(s.lastCommit(), 0u);

  s.beginCall({"CN=bob", true});
  const ObjectId undone = s.create(kOther);
  s.setValue(a, kName, text(u"undone"));
  s.setValue(b, kName, text(u"A"));
  s.removeMember(a, kMembers, b);
  s.setReference(b, kOwner, undone);
  s.rollback();
  EXPECT_EQ(s.objectCount(), 2u);
  EXPECT_EQ(s.value(a, kName), text(u"A")) << "the held call's value, not the undone one";
  EXPECT_EQ(s.holdingValue(kName, text(u"A")), (Ids{a}));
  EXPECT_EQ(s.members(a, kMembers), (Ids{b}));
  EXPECT_EQ(s.referrers(kMembers, b), (Ids{a}));
  EXPECT_EQ(s.reference(b, kOwner), 0u);

  s.beginCall({"CN=carol", true});
  const ObjectId c = s.create(kOther);
  EXPECT_EQ(c, undone) << "the undone call's number is free again";
  s.setReference(c, kOwner, a);
  s.commitLater();
  s.beginCall({"CN=dave", true});
  s.commit();
  EXPECT_FALSE(s.holding());

  EXPECT_EQ(s.lastCommit(), 2u);
  const auto log = s.commitsSince(0, 10, SIZE_MAX);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].principal, "CN=alice");
  EXPECT_EQ(log[0].created, (Touched{{a, kPlain}, {b, kPlain}}));
  EXPECT_EQ(log[1].sequence, 2u);
  EXPECT_EQ(log[1].principal, "CN=carol");
  EXPECT_EQ(log[1].created, (Touched{{c, kOther}}));

  if (std::string(GetParam().name) == "memory") return;
  store_.reset();
  store_ = open();
  EXPECT_EQ(store_->objectCount(), 3u);
  EXPECT_EQ(store_->value(a, kName), text(u"A"));
  EXPECT_EQ(store_->referrers(kOwner, a), (Ids{c}));
  EXPECT_EQ(store_->lastCommit(), 2u);
}

SlotChange valueChange(ObjectId id, FeatureId feature, std::vector<StoredValue> before,
                       std::vector<StoredValue> after) {
  return {.kind = SlotChange::Value,
          .object = id,
          .feature = feature,
          .before = std::move(before),
          .after = std::move(after)};
}

SlotChange memberChange(SlotChange::Kind kind, ObjectId id, ObjectId member, VornLong position) {
  SlotChange change{.kind = kind, .object = id, .feature = kMembers, .position = position};
  (kind == SlotChange::Added ? change.afterTarget : change.beforeTarget) = member;
  return change;
}

std::vector<std::uint64_t> sequencesOf(const std::vector<CommitRecord>& commits) {
  std::vector<std::uint64_t> sequences;
  for (const CommitRecord& commit : commits) sequences.push_back(commit.sequence);
  return sequences;
}

// Each commit keeps what it changed, with what each slot held before, and
// an object's history is its commits newest first, each with its changes
// to that object alone: as made, and after a reopen.
TEST_P(StoreContract, HistoryKeepsEachChangeWithWhatItReplaced) {
  PersistentStore& s = *store_;
  s.beginCall({"alice", true});
  const ObjectId a = s.create(kPlain), b = s.create(kPlain);
  s.setValue(a, kName, text(u"A"));
  s.appendMember(a, kMembers, b);
  s.setValues(a, kItems, {number(1), number(2)});
  s.commit();
  s.beginCall({"bob", true});
  s.setValue(a, kName, text(u"B"));
  const ObjectId c = s.create(kOther);
  s.setValue(c, kName, text(u"C"));
  s.insertMember(a, kMembers, c, 0);
  s.setReference(b, kOwner, a);
  s.setValues(a, kItems, {number(3)});
  s.commit();
  s.beginCall({"carol", true});
  s.removeMember(a, kMembers, c);
  s.removeObject(c);
  s.commit();
  s.beginCall({"dave", true});
  s.restoreObject(c, kOther);
  s.clearValue(a, kName);
  s.commit();
  EXPECT_FALSE(s.value(a, kName));
  EXPECT_EQ(s.classOf(c), kOther);
  EXPECT_EQ(s.instancesOf(std::vector<ClassId>{kOther}), (Ids{c}));

  const auto check = [&](PersistentStore& store) {
    const auto ofA = store.historyOf(a, 0, 10);
    ASSERT_EQ(sequencesOf(ofA), (std::vector<std::uint64_t>{4, 3, 2, 1}));
    EXPECT_EQ(ofA[0].principal, "dave");
    EXPECT_EQ(ofA[0].changes, (std::vector<SlotChange>{valueChange(a, kName, {text(u"B")}, {})}));
    EXPECT_EQ(ofA[1].changes,
              (std::vector<SlotChange>{memberChange(SlotChange::Removed, a, c, 0)}));
    EXPECT_EQ(ofA[2].changes,
              (std::vector<SlotChange>{valueChange(a, kName, {text(u"A")}, {text(u"B")}),
                                       memberChange(SlotChange::Added, a, c, 0),
                                       {.kind = SlotChange::Values,
                                        .object = a,
                                        .feature = kItems,
                                        .before = {number(1), number(2)},
                                        .after = {number(3)}}}));
    EXPECT_EQ(ofA[3].changes.front(),
              (SlotChange{.kind = SlotChange::Created, .object = a, .feature = kPlain}));
    EXPECT_EQ(ofA[3].changes[1], valueChange(a, kName, {}, {text(u"A")}));
    EXPECT_EQ(ofA[3].changes[2], memberChange(SlotChange::Added, a, b, 0));
    EXPECT_EQ(ofA[3].created, (Touched{{a, kPlain}}));

    const auto ofC = store.historyOf(c, 0, 10);
    ASSERT_EQ(sequencesOf(ofC), (std::vector<std::uint64_t>{4, 3, 2}));
    EXPECT_EQ(ofC[1].changes, (std::vector<SlotChange>{
                                  valueChange(c, kName, {text(u"C")}, {}),
                                  {.kind = SlotChange::Deleted, .object = c, .feature = kOther}}));
    EXPECT_EQ(ofC[0].created, (Touched{{c, kOther}})) << "brought back";
    EXPECT_EQ(sequencesOf(store.historyOf(a, 3, 1)), (std::vector<std::uint64_t>{2}));

    const auto second = store.commitAt(2, SIZE_MAX);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->principal, "bob");
    EXPECT_EQ(second->changes.size(), 6u);
    EXPECT_EQ(
        second->changes[4],
        (SlotChange{
            .kind = SlotChange::Reference, .object = b, .feature = kOwner, .afterTarget = a}));
    EXPECT_FALSE(store.commitAt(5, SIZE_MAX));
    EXPECT_EQ(store.nextChangeOf(a, kName, 1), 2u);
    EXPECT_EQ(store.nextChangeOf(a, kName, 2), 4u);
    EXPECT_EQ(store.nextChangeOf(a, kItems, 2), 0u);
    EXPECT_EQ(store.nextChangeOf(c, kName, 2), 3u) << "removing it changes every slot";
    EXPECT_EQ(store.nextChangeOf(b, std::nullopt, 1), 2u);
    EXPECT_EQ(store.nextChangeOf(b, std::nullopt, 2), 0u);
  };
  check(s);
  if (std::string(GetParam().name) == "memory") return;
  store_.reset();
  store_ = open();
  store_->beginCall({"reader", false});
  check(*store_);
}

// A call held for a group commit is a later change too, numbered as its
// commit will number it: an undo in the same round sees it.
TEST_P(StoreContract, HeldCallsCountAsLaterChanges) {
  PersistentStore& s = *store_;
  s.beginCall({"alice", true});
  const ObjectId a = s.create(kPlain);
  s.setValue(a, kName, text(u"A"));
  s.commit();
  s.beginCall({"bob", true});
  s.setValue(a, kName, text(u"B"));
  s.commitLater();
  s.beginCall({"carol", true});
  EXPECT_EQ(s.nextChangeOf(a, kName, 1), 2u);
  EXPECT_EQ(s.nextChangeOf(a, kSize, 1), 0u);
  EXPECT_EQ(s.commitOfCall(), 3u);
  s.commit();
  EXPECT_EQ(s.nextChangeOf(a, kName, 1), 2u) << "and once kept";
}

// Without history, the log keeps its rows and no changes.
// What a read at a commit must give: every slot of every object ever made,
// and every find, as the store answered them right after that commit.
struct Snapshot {
  std::size_t objects = 0;
  std::vector<std::tuple<bool, ClassId, std::optional<StoredValue>, std::optional<StoredValue>,
                         ObjectId, Ids, std::vector<StoredValue>>>
      slots;
  std::vector<Ids> finds;

  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

// Where two snapshots differ first, for a failure's message.
std::string firstDifference(const Snapshot& got, const Snapshot& wanted) {
  if (got.objects != wanted.objects) {
    return "the count of objects: " + std::to_string(got.objects) + "/" +
           std::to_string(wanted.objects);
  }
  for (std::size_t i = 0; i < std::min(got.slots.size(), wanted.slots.size()); ++i) {
    if (got.slots[i] != wanted.slots[i]) {
      const auto& [e1, c1, n1, z1, o1, m1, v1] = got.slots[i];
      const auto& [e2, c2, n2, z2, o2, m2, v2] = wanted.slots[i];
      return "object " + std::to_string(i + 1) + ": exists " + std::to_string(e1) + "/" +
             std::to_string(e2) + ", class " + std::to_string(c1) + "/" + std::to_string(c2) +
             ", name " + std::to_string(n1 != n2) + ", size " + std::to_string(z1 != z2) +
             ", owner " + std::to_string(o1) + "/" + std::to_string(o2) + ", members " +
             std::to_string(m1.size()) + "/" + std::to_string(m2.size()) + ", items " +
             std::to_string(v1 != v2);
    }
  }
  for (std::size_t i = 0; i < std::min(got.finds.size(), wanted.finds.size()); ++i) {
    if (got.finds[i] != wanted.finds[i]) {
      std::string ids;
      for (ObjectId id : got.finds[i]) ids += " " + std::to_string(id);
      ids += " /";
      for (ObjectId id : wanted.finds[i]) ids += " " + std::to_string(id);
      return "find " + std::to_string(i) + ":" + ids;
    }
  }
  return "their lengths";
}

Snapshot snapshotOf(const PersistentStore& s, ObjectId highest,
                    const std::vector<std::u16string>& names) {
  Snapshot shot;
  shot.objects = s.objectCount();
  for (ObjectId id = 1; id <= highest; ++id) {
    shot.slots.emplace_back(s.exists(id), s.classOf(id), s.value(id, kName), s.value(id, kSize),
                            s.reference(id, kOwner), s.members(id, kMembers), s.values(id, kItems));
    shot.finds.push_back(s.referrers(kOwner, id));
    shot.finds.push_back(s.referrers(kMembers, id));
    if (s.exists(id) && s.memberCount(id, kMembers) > 0) {
      const Ids all = s.members(id, kMembers);
      EXPECT_EQ(s.memberAt(id, kMembers, 0), all.front());
      EXPECT_EQ(s.memberIndex(id, kMembers, all.back()), static_cast<VornLong>(all.size()) - 1);
    }
  }
  for (ClassId each : {kPlain, kOther, kPackage}) {
    shot.finds.push_back(s.instancesOf(std::vector<ClassId>{each}));
  }
  for (const std::u16string& name : names) {
    shot.finds.push_back(s.holdingValue(kName, text(name)));
    shot.finds.push_back(s.namesMatching(name_search::Match::Exact, name, 100));
    shot.finds.push_back(s.namesMatching(name_search::Match::Prefix, name.substr(0, 1), 100));
  }
  shot.finds.push_back(s.holdingValue(kItems, number(3)));
  shot.finds.push_back(s.roots());
  return shot;
}

// A random run of changes of every kind, each call committed; then the
// repository read at each commit is exactly as it was then, however much
// changed since, and nothing can be written there.
TEST_P(StoreContract, EveryCommitIsReadBackAsItWas) {
  PersistentStore& s = *store_;
  std::mt19937 random(11);
  const std::vector<std::u16string> names{u"ant", u"bee", u"anthill", u"beetle", u"cat"};
  std::vector<Snapshot> shots{snapshotOf(s, 0, names)};
  std::vector<ObjectId> highestAt{0};
  ObjectId highest = 0;
  std::vector<std::pair<ObjectId, ClassId>> removed;
  const auto pick = [&]() -> ObjectId {
    for (int tries = 0; tries < 20 && highest > 0; ++tries) {
      const ObjectId id = 1 + random() % highest;
      if (s.exists(id)) return id;
    }
    return 0;
  };
  for (int call = 0; call < 120; ++call) {
    s.beginCall({"", true});
    const bool brief = call % 17 == 5;  // as an import makes them
    s.recordMadeObjectsBriefly(brief);
    for (int step = 0; step < (brief ? 30 : 4); ++step) {
      const ObjectId a = pick(), b = pick();
      switch (brief || a == 0 ? 0 : random() % 9) {
        case 0: {
          const ClassId classes[] = {kPlain, kOther, kPackage};
          highest = s.create(classes[random() % 3]);
          s.setValue(highest, kName, text(names[random() % names.size()]));
          if (a != 0) s.setReference(highest, kOwner, a);
          break;
        }
        case 1:
          s.setValue(a, kName, text(names[random() % names.size()]));
          break;
        case 2:
          s.setValue(a, kSize, number(static_cast<std::int32_t>(random() % 5)));
          if (random() % 3 == 0) s.clearValue(a, kSize);
          break;
        case 3:
          s.setReference(a, kOwner, random() % 4 == 0 ? 0 : b);
          break;
        case 4:
          if (b != 0) {
            s.insertMember(a, kMembers, b,
                           static_cast<VornLong>(random() % (s.memberCount(a, kMembers) + 1)));
          }
          break;
        case 5:
          if (s.memberCount(a, kMembers) > 0) {
            s.removeMember(a, kMembers, s.memberAt(a, kMembers, 0));
          }
          break;
        case 6:
          s.setValues(a, kItems, {number(static_cast<std::int32_t>(random() % 4)), number(3)});
          break;
        case 7:
          if (random() % 2 == 0) s.clearMembers(a, kMembers);
          break;
        case 8: {
          for (const auto& [feature, holder] : s.referencesTo(a)) {
            if (feature == kOwner) s.setReference(holder, kOwner, 0);
            if (feature == kMembers) s.removeMember(holder, kMembers, a);
          }
          removed.emplace_back(a, s.classOf(a));
          s.removeObject(a);
          break;
        }
      }
    }
    if (!removed.empty() && call % 11 == 10) {  // as an undo brings one back
      s.restoreObject(removed.back().first, removed.back().second);
      s.setValue(removed.back().first, kName, text(u"back"));
      removed.pop_back();
    }
    s.recordMadeObjectsBriefly(false);
    s.commit();
    while (shots.size() <= s.lastCommit()) {
      shots.push_back(snapshotOf(s, highest, names));
      highestAt.push_back(highest);
    }
  }
  ASSERT_GT(s.lastCommit(), 100u);
  for (std::uint64_t commit = 0; commit <= s.lastCommit(); ++commit) {
    const StoreAtCommit then(s, commit, kName);
    const Snapshot read = snapshotOf(then, highestAt[commit], names);
    ASSERT_EQ(read, shots[commit])
        << "at commit " << commit << ", " << firstDifference(read, shots[commit]);
    EXPECT_FALSE(then.exists(highestAt[commit] + 1)) << "made after commit " << commit;
  }

  // A call held for a group commit, and the call in progress, are in no
  // commit yet: read at a commit, they are undone too.
  StoreAtCommit atLast(s, s.lastCommit(), kName);
  EXPECT_EQ(snapshotOf(atLast, highestAt.back(), names), shots.back());  // read before they came
  for (int held = 0; held < 2; ++held) {
    s.beginCall({"", true});
    const ObjectId a = pick(), b = s.create(kPackage);
    s.setValue(a, kName, text(u"anthill"));
    s.setValue(b, kName, text(u"bee"));
    s.insertMember(a, kMembers, b, 0);
    if (held == 0) s.commitLater();
  }
  for (std::uint64_t commit : {std::uint64_t{0}, s.lastCommit() / 2, s.lastCommit()}) {
    const StoreAtCommit before(s, commit, kName);
    const Snapshot read = snapshotOf(before, highestAt[commit], names);
    EXPECT_EQ(read, shots[commit]) << "at commit " << commit << " with changes not committed, "
                                   << firstDifference(read, shots[commit]);
  }
  EXPECT_EQ(snapshotOf(atLast, highestAt.back(), names), shots.back()) << "a view made before";
  atLast.forget();
  EXPECT_EQ(snapshotOf(atLast, highestAt.back(), names), shots.back()) << "read anew";
  s.rollback();
  if (s.holding()) s.commit();

  StoreAtCommit then(s, 3, kName);
  EXPECT_THROW(then.setValue(1, kName, text(u"late")), StoreError);
  EXPECT_THROW(then.create(kPlain), StoreError);
  EXPECT_EQ(snapshotOf(s, highestAt.back(), names),
            snapshotOf(StoreAtCommit(s, s.lastCommit(), kName), highestAt.back(), names))
      << "the refused writes changed nothing";
  EXPECT_THROW(StoreAtCommit(s, s.lastCommit() + 1, kName), StoreError);
}

TEST_P(StoreContract, HistoryCanBeOff) {
  PersistentStore& s = *store_;
  s.settings().history.mode = HistoryRetention::None;
  s.beginCall({"alice", true});
  const ObjectId a = s.create(kPlain);
  s.setValue(a, kName, text(u"A"));
  s.commit();
  const auto commit = s.commitAt(1, SIZE_MAX);
  ASSERT_TRUE(commit);
  EXPECT_EQ(commit->created, (Touched{{a, kPlain}}));
  EXPECT_TRUE(commit->changes.empty());
  EXPECT_EQ(s.nextChangeOf(a, kName, 0), 1u) << "a commit without its history might have";

  // Only the commits after which every change is kept can be read back.
  s.settings().history.mode = HistoryRetention::All;
  for (int i = 0; i < 3; ++i) {
    s.beginCall({"alice", true});
    s.setValue(a, kName, text(u"B"));
    s.commit();
  }
  EXPECT_EQ(oldestReadableCommit(s), 1u);
  EXPECT_EQ(StoreAtCommit(s, 1, kName).value(a, kName), text(u"A"));
  try {
    StoreAtCommit(s, 0, kName);
    ADD_FAILURE() << "read at a commit whose next one's changes are not kept";
  } catch (const StoreError& refused) {
    EXPECT_NE(std::string(refused.what()).find("the oldest commit that can be read is 1"),
              std::string::npos)
        << refused.what();
  }
}

// A commit read with a bound holds the first changes in commit order,
// across objects and across the rows read at a time, and counts the rest.
TEST_P(StoreContract, ACommitReadWithABoundHoldsItsFirstChangesAndCountsTheRest) {
  PersistentStore& s = *store_;
  s.beginCall({"alice", true});
  Ids made;
  for (int i = 0; i < 1500; ++i) made.push_back(s.create(kPlain));
  // Named from the last made to the first: commit order is not object order.
  for (auto id = made.rbegin(); id != made.rend(); ++id) s.setValue(*id, kName, text(u"n"));
  s.commit();
  const auto whole = s.commitAt(1, SIZE_MAX);
  ASSERT_TRUE(whole);
  ASSERT_EQ(whole->changes.size(), 3000u);
  EXPECT_EQ(whole->changesLeftOut, 0u);
  for (const std::size_t most :
       {std::size_t{0}, std::size_t{1}, std::size_t{1501}, std::size_t{2999}, std::size_t{3000}}) {
    const auto first = s.commitAt(1, most);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->changes,
              std::vector<SlotChange>(whole->changes.begin(),
                                      whole->changes.begin() + static_cast<std::ptrdiff_t>(most)))
        << most;
    EXPECT_EQ(first->changesLeftOut, 3000 - most);
    EXPECT_EQ(first->created.size(), 1500u);
  }
}

TEST_P(StoreContract, NamesAreFoundByIndexInAnyCaseExactThenByPrefixThenWithin) {
  using name_search::Match;
  PersistentStore& s = *store_;
  s.beginCall({});
  std::vector<ObjectId> made;
  for (const char16_t* name : {u"Account", u"accountant", u"SavingsAccount", u"ACCOUNT", u"Acc",
                               u"Ärger", u"Überweisung", u"Konto", u"CountAccount"}) {
    made.push_back(s.create(kPlain));
    s.setValue(made.back(), kName, text(name));
  }
  const ObjectId other = s.create(kPlain);
  s.setValue(other, kSize, text(u"Account"));  // not the searched slot
  s.commit();
  const auto found = [&](Match match, const char16_t* wanted, std::size_t most = 100) {
    return s.namesMatching(match, name_search::folded(wanted), most);
  };
  // In the folded names' order, then by number.
  EXPECT_EQ(found(Match::Exact, u"aCCount"), (Ids{made[0], made[3]}));
  EXPECT_EQ(found(Match::Prefix, u"acc"), (Ids{made[0], made[3], made[1]}));
  EXPECT_EQ(found(Match::Prefix, u"acc", 2), (Ids{made[0], made[3]}));
  EXPECT_EQ(found(Match::Containing, u"ACCOUNT"), (Ids{made[8], made[2]}));
  EXPECT_EQ(found(Match::Containing, u"ko"), Ids{}) << "shorter than a gram";
  EXPECT_EQ(found(Match::Prefix, u"ä"), (Ids{made[5]}));
  EXPECT_EQ(found(Match::Exact, u"überweisung"), (Ids{made[6]}));
  // Renamed, cleared and removed names leave the index in step, and an
  // undone change leaves it as it was.
  s.beginCall({});
  s.setValue(made[0], kName, text(u"Ledger"));
  s.clearValue(made[3], kName);
  s.removeObject(made[8]);
  s.commit();
  EXPECT_EQ(found(Match::Exact, u"account"), Ids{});
  EXPECT_EQ(found(Match::Containing, u"edge"), (Ids{made[0]}));
  EXPECT_EQ(found(Match::Containing, u"account"), (Ids{made[2]}));
  s.beginCall({});
  s.setValue(made[1], kName, text(u"Clerk"));
  s.rollback();
  EXPECT_EQ(found(Match::Prefix, u"acc"), (Ids{made[1]}));
  EXPECT_EQ(found(Match::Exact, u"clerk"), Ids{});
  // Names set in one call, more than wait at once and one renamed twice,
  // are found within the call, and none once it is undone.
  s.beginCall({});
  std::vector<ObjectId> many;
  for (int i = 0; i < 300; ++i) {
    many.push_back(s.create(kPlain));
    std::u16string name = u"Item ";
    name += static_cast<char16_t>(u'a' + i % 26);
    for (const char digit : std::to_string(i)) name += static_cast<char16_t>(digit);
    s.setValue(many.back(), kName, text(name));
  }
  s.setValue(many[5], kName, text(u"Draft"));
  s.setValue(many[5], kName, text(u"Final"));
  EXPECT_EQ(found(Match::Exact, u"item z259"), (Ids{many[259]}));
  EXPECT_EQ(found(Match::Exact, u"final"), (Ids{many[5]}));
  EXPECT_EQ(found(Match::Exact, u"draft"), Ids{});
  EXPECT_EQ(found(Match::Prefix, u"item", 1000).size(), 299u);
  s.rollback();
  EXPECT_EQ(found(Match::Prefix, u"item", 1000), Ids{});
  EXPECT_EQ(found(Match::Exact, u"final"), Ids{});
  // A store opened again finds the same (a file or database indexes its
  // names once, when it is first opened for the feature).
  store_.reset();
  if (GetParam().name == std::string("memory")) return;
  store_ = open();
  EXPECT_EQ(store_->namesMatching(Match::Containing, u"account", 10), (Ids{made[2]}));
}

// The packages nothing owns, through either end, are indexed as each
// commit leaves them: made, owned, let go, freed by their owner's removal;
// an undone call, held or not, leaves the index as it was.
TEST_P(StoreContract, RootsAreThePackagesNothingOwnsAsEachCommitLeavesThem) {
  PersistentStore& s = *store_;
  s.beginCall({});
  const ObjectId a = s.create(kPackage), b = s.create(kPackage), c = s.create(kPackage);
  const ObjectId plain = s.create(kPlain);  // of no class the roots are
  s.setReference(b, kOwner, a);
  s.appendMember(a, kMembers, c);
  EXPECT_EQ(s.roots(), Ids{}) << "nothing shows before the commit";
  s.commit();
  EXPECT_EQ(s.roots(), Ids{a});
  s.beginCall({});
  s.setReference(b, kOwner, 0);
  s.removeMember(a, kMembers, c);
  s.commit();
  EXPECT_EQ(s.roots(), (Ids{a, b, c}));
  s.beginCall({});
  s.setReference(a, kOwner, plain);
  s.rollback();
  EXPECT_EQ(s.roots(), (Ids{a, b, c}));
  s.beginCall({});
  s.appendMember(a, kMembers, b);
  s.appendMember(a, kMembers, c);
  s.commit();
  EXPECT_EQ(s.roots(), Ids{a});
  s.beginCall({});
  s.removeObject(a);
  s.commit();
  EXPECT_EQ(s.roots(), (Ids{b, c})) << "what the removed package held is free";
  s.beginCall({});
  s.setReference(b, kOwner, c);
  s.commitLater();
  s.beginCall({});
  s.setReference(c, kOwner, b);
  s.rollback();  // the second call alone
  s.commit();
  EXPECT_EQ(s.roots(), Ids{c});
  store_.reset();
  if (GetParam().name == std::string("memory")) return;
  store_ = open();
  EXPECT_EQ(store_->roots(), Ids{c});
}

// A file or database written by a store that indexed no names nor roots
// (an older one, or a copy) has them indexed once it is opened for them.
TEST(NameIndex, ARepositoryOpenedForSearchIndexesTheNamesItHolds) {
  TemporaryFolder folder;
  const auto file = folder.path() / "r.sqlite3";
  std::vector<
      std::pair<std::function<std::unique_ptr<PersistentStore>(const StoreOptions&)>, const char*>>
      stores = {{[&](const StoreOptions& o) { return openSqliteStore(file, o); }, "file"}};
  std::string database;
  if (testPostgres()) {
    database = freshPostgresDatabase();
    stores.push_back(
        {[&](const StoreOptions& o) { return openPostgresStore(database, o); }, "database"});
  }
  for (const auto& [open, what] : stores) {
    {
      const auto unindexed = open(StoreOptions{});
      unindexed->beginCall({});
      for (const char16_t* name : {u"Ledger", u"GeneralLedger"})
        unindexed->setValue(unindexed->create(kPlain), kName, text(name));
      const ObjectId top = unindexed->create(kPackage), inner = unindexed->create(kPackage);
      unindexed->appendMember(top, kMembers, inner);
      unindexed->setReference(unindexed->create(kPackage), kOwner, inner);
      unindexed->commit();
      EXPECT_EQ(unindexed->namesMatching(name_search::Match::Exact, u"ledger", 5), Ids{}) << what;
      EXPECT_EQ(unindexed->roots(), Ids{}) << what;
    }
    const auto searched = open(indexing());
    EXPECT_EQ(searched->namesMatching(name_search::Match::Exact, u"ledger", 5), Ids{1}) << what;
    EXPECT_EQ(searched->namesMatching(name_search::Match::Containing, u"ledger", 5), Ids{2})
        << what;
    EXPECT_EQ(searched->roots(), Ids{3}) << what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryStore, StoreContract,
    ::testing::Values(StoreKind{"memory",
                                [](const std::filesystem::path&, const std::string&) {
                                  return makeMemoryStore(indexing());
                                }},
                      StoreKind{"sqlite",
                                [](const std::filesystem::path& file, const std::string&) {
                                  return openSqliteStore(file, indexing());
                                }},
                      StoreKind{"postgres",
                                [](const std::filesystem::path&, const std::string& database) {
                                  return openPostgresStore(database, indexing());
                                },
                                true}),
    [](const auto& each) { return std::string(each.param.name); });

}  // namespace
