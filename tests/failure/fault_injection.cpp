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

class FaultyStore final : public PersistentStore {
 public:
  FaultyStore() : store_(makeMemoryStore()) {}

  ObjectId create(ClassId classId) override {
    faults::storeOperation();
    return store_->create(classId);
  }
  bool exists(ObjectId id) const override {
    faults::storeOperation();
    return store_->exists(id);
  }
  ClassId classOf(ObjectId id) const override {
    faults::storeOperation();
    return store_->classOf(id);
  }
  const std::vector<ObjectId>& instancesOf(ClassId classId) const override {
    faults::storeOperation();
    return store_->instancesOf(classId);
  }
  std::size_t objectCount() const override {
    faults::storeOperation();
    return store_->objectCount();
  }
  const StoredValue* value(ObjectId id, FeatureId feature) const override {
    faults::storeOperation();
    return store_->value(id, feature);
  }
  void setValue(ObjectId id, FeatureId feature, StoredValue value) override {
    faults::storeOperation();
    store_->setValue(id, feature, std::move(value));
  }
  ObjectId reference(ObjectId id, FeatureId feature) const override {
    faults::storeOperation();
    return store_->reference(id, feature);
  }
  void setReference(ObjectId id, FeatureId feature, ObjectId target) override {
    faults::storeOperation();
    store_->setReference(id, feature, target);
  }
  const OrderedIdSet* collection(ObjectId id, FeatureId feature) const override {
    faults::storeOperation();
    return store_->collection(id, feature);
  }
  OrderedIdSet& mutableCollection(ObjectId id, FeatureId feature) override {
    faults::storeOperation();
    return store_->mutableCollection(id, feature);
  }
  const std::vector<StoredValue>* valueList(ObjectId id, FeatureId feature) const override {
    faults::storeOperation();
    return store_->valueList(id, feature);
  }
  std::vector<StoredValue>& mutableValueList(ObjectId id, FeatureId feature) override {
    faults::storeOperation();
    return store_->mutableValueList(id, feature);
  }

 private:
  std::unique_ptr<PersistentStore> store_;
};

}  // namespace

std::unique_ptr<PersistentStore> makeFaultyStore() { return std::make_unique<FaultyStore>(); }
