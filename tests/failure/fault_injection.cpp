#include "tests/failure/fault_injection.h"

#include <cstdlib>
#include <new>
#include <stdexcept>

namespace faults {
namespace {

// The tests run on one thread; so does the library.
Kind armedKind = Kind::Allocation;
std::size_t countdown = 0;  // 0: disarmed
bool fired = false;
int suspended = 0;

// Whether this event, of `kind`, is the one that fails.
bool failsNow(Kind kind) {
  if (countdown == 0 || suspended > 0 || kind != armedKind) return false;
  if (--countdown > 0) return false;
  fired = true;
  return true;
}

}  // namespace

void arm(Kind kind, std::size_t nth) {
  armedKind = kind;
  countdown = nth;
  fired = false;
}

bool disarm() {
  countdown = 0;
  return fired;
}

Suspended::Suspended() { ++suspended; }
Suspended::~Suspended() { --suspended; }

namespace {

void storeOperation() {
  if (failsNow(Kind::StoreOperation)) throw std::runtime_error("injected store failure");
}

bool allocationFails() { return failsNow(Kind::Allocation); }

}  // namespace

}  // namespace faults

// Every allocation of the process goes through these, the library's included.
void* operator new(std::size_t size) {
  if (faults::allocationFails()) throw std::bad_alloc();
  if (void* memory = std::malloc(size > 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (faults::allocationFails()) return nullptr;
  return std::malloc(size > 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
// Not inlined, so the compiler never pairs a new-expression with free().
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete[](void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
// What a nothrow new-expression calls when the constructor throws.
[[gnu::noinline]] void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
[[gnu::noinline]] void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}

namespace {

// Every operation of the store may be the one that fails.
class FaultyStore final : public PersistentStore {
 public:
  explicit FaultyStore(std::unique_ptr<PersistentStore> store) : store_(std::move(store)) {}

  ObjectId createObject(ClassId classId) override { return faulty().create(classId); }
  bool exists(ObjectId id) const override { return faulty().exists(id); }
  ClassId classOf(ObjectId id) const override { return faulty().classOf(id); }
  std::vector<ObjectId> instancesOf(std::span<const ClassId> classes) const override {
    return faulty().instancesOf(classes);
  }
  std::size_t objectCount() const override { return faulty().objectCount(); }
  void eraseObject(ObjectId id) override { faulty().removeObject(id); }
  void reviveObject(ObjectId id, ClassId classId) override { faulty().restoreObject(id, classId); }
  std::optional<StoredValue> value(ObjectId id, FeatureId feature) const override {
    return faulty().value(id, feature);
  }
  void writeValue(ObjectId id, FeatureId feature, const StoredValue& value) override {
    faulty().setValue(id, feature, value);
  }
  void eraseValue(ObjectId id, FeatureId feature) override { faulty().clearValue(id, feature); }
  std::vector<ObjectId> namesMatching(name_search::Match match, std::u16string_view folded,
                                      std::size_t most) const override {
    return faulty().namesMatching(match, folded, most);
  }
  std::vector<ObjectId> holdingValue(FeatureId feature, const StoredValue& value) const override {
    return faulty().holdingValue(feature, value);
  }
  // It keeps no roots of its own; the store it wraps keeps its own.
  std::vector<ObjectId> roots() const override { return faulty().roots(); }
  void writeRoot(ObjectId, bool) override {}
  ObjectId reference(ObjectId id, FeatureId feature) const override {
    return faulty().reference(id, feature);
  }
  void writeReference(ObjectId id, FeatureId feature, ObjectId target) override {
    faulty().setReference(id, feature, target);
  }
  VornLong memberCount(ObjectId id, FeatureId feature) const override {
    return faulty().memberCount(id, feature);
  }
  bool hasMember(ObjectId id, FeatureId feature, ObjectId member) const override {
    return faulty().hasMember(id, feature, member);
  }
  ObjectId memberAt(ObjectId id, FeatureId feature, VornLong index) const override {
    return faulty().memberAt(id, feature, index);
  }
  std::vector<ObjectId> members(ObjectId id, FeatureId feature) const override {
    return faulty().members(id, feature);
  }
  VornLong memberIndex(ObjectId id, FeatureId feature, ObjectId member) const override {
    return faulty().memberIndex(id, feature, member);
  }
  bool addMemberAt(ObjectId id, FeatureId feature, ObjectId member, VornLong position) override {
    return faulty().insertMember(id, feature, member, position);
  }
  void dropMember(ObjectId id, FeatureId feature, ObjectId member) override {
    faulty().removeMember(id, feature, member);
  }
  void dropMembers(ObjectId id, FeatureId feature) override { faulty().clearMembers(id, feature); }
  std::vector<ObjectId> referrers(FeatureId feature, ObjectId target) const override {
    return faulty().referrers(feature, target);
  }
  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) const override {
    return faulty().referencesTo(target);
  }
  std::vector<StoredValue> values(ObjectId id, FeatureId feature) const override {
    return faulty().values(id, feature);
  }
  void writeValues(ObjectId id, FeatureId feature, std::vector<StoredValue> values) override {
    faulty().setValues(id, feature, std::move(values));
  }
  std::vector<FeatureId> writtenFeatures(ObjectId id) const override {
    return faulty().writtenFeatures(id);
  }
  std::uint64_t lastCommit() const override { return faulty().lastCommit(); }
  std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                         std::size_t mostObjects) const override {
    return faulty().commitsSince(sequence, most, mostObjects);
  }
  std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                      std::size_t most) const override {
    return faulty().historyOf(object, before, most);
  }
  std::optional<CommitRecord> commitAt(std::uint64_t sequence,
                                       std::size_t mostChanges) const override {
    return faulty().commitAt(sequence, mostChanges);
  }
  std::uint64_t nextKeptChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                 std::uint64_t after) const override {
    return faulty().nextChangeOf(object, feature, after);
  }
  void beginTransaction(bool writes) override { faulty().beginCall({{}, writes}); }
  void commitChanges(std::span<CommitRecord>) override { faulty().commit(); }
  void rollbackChanges() override { store_->rollback(); }  // undoing never fails
  // Each call commits by itself: the faults fire in one call's work.
  bool holdsCommits() const override { return false; }
  void markCall() override {}
  void rollbackToMark() override {}
  void releaseMark() override {}

 private:
  PersistentStore& faulty() const {
    faults::storeOperation();
    return *store_;
  }

  std::unique_ptr<PersistentStore> store_;
};

}  // namespace

std::unique_ptr<PersistentStore> makeFaultyStore(std::unique_ptr<PersistentStore> store) {
  return std::make_unique<FaultyStore>(std::move(store));
}
