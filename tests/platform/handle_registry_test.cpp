#include "model/vorn_os/handle_registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "model_classes.h"

namespace {

// Counts its destructions, to see what releasing a handle deletes.
class Probe final : public VornObject {
 public:
  explicit Probe(int* destroyed) : destroyed_(destroyed) {}
  ~Probe() override { ++*destroyed_; }
  int classId() const override { return 0; }
  VornObject* copy() const override { return nullptr; }
  int isNull() const override { return 0; }
  int isValid() const override { return 1; }
  int modelId() const override { return 0; }

 private:
  int* destroyed_;
};

unsigned long registerModelObject(VornPersistentObject* object) {
  return getHandle(object, static_cast<VornObject*>(object), object);
}

TEST(HandleRegistry, ZeroAndUnknownHandlesAreInvalid) {
  EXPECT_EQ(okHandle(0), 0);
  EXPECT_EQ(okHandle(0xFFFFFFFF), 0);
  EXPECT_EQ(okHandle(0x100000000ul), 0);
  EXPECT_EQ(getObject(0, 0), nullptr);
  EXPECT_EQ(deleteHandle(0), 0);
}

TEST(HandleRegistry, ViewsGiveTheObjectAndItsPersistentPart) {
  QOVIXClass surrogate;
  const unsigned long handle = registerModelObject(&surrogate);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(okHandle(handle), 1);
  EXPECT_EQ(getObject(handle, 0), &surrogate);
  EXPECT_EQ(getObject(handle, 1), static_cast<VornPersistentObject*>(&surrogate));
  EXPECT_EQ(getObject(handle, 2), nullptr);
  EXPECT_EQ(deleteHandle(handle), 1);
  EXPECT_EQ(okHandle(handle), 0);
  EXPECT_EQ(getObject(handle, 0), nullptr);
  EXPECT_EQ(deleteHandle(handle), 0) << "a dropped handle stays dropped";
}

TEST(HandleRegistry, DroppedHandlesNeverComeBackAsSlotsAreReused) {
  QOVIXClass surrogate;
  std::set<unsigned long> issued;
  std::vector<unsigned long> dropped;
  // Far more reuses than a slot has generations.
  for (int i = 0; i < 2000; ++i) {
    const unsigned long handle = registerModelObject(&surrogate);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(issued.insert(handle).second) << "handle " << handle << " issued twice";
    ASSERT_EQ(deleteHandle(handle), 1);
    dropped.push_back(handle);
  }
  for (unsigned long handle : dropped) EXPECT_EQ(okHandle(handle), 0);
}

// A dropped handle stays invalid for 16,777,216 later registrations, and
// registering goes on working however long the registry is used: the
// slots' generations wrap around instead of retiring slots.
TEST(HandleRegistry, ADroppedHandleStaysInvalidForLongAndRegisteringNeverStops) {
  QOVIXClass surrogate;
  const unsigned long first = registerModelObject(&surrogate);
  ASSERT_EQ(deleteHandle(first), 1);
  for (std::uint32_t i = 0; i < (1u << 24); ++i) {
    const unsigned long handle = registerModelObject(&surrogate);
    if (handle == 0 || handle == first) {
      FAIL() << "registration " << i << " gave " << (handle == 0 ? "no handle" : "the dropped one");
    }
    deleteHandle(handle);
  }
  EXPECT_EQ(okHandle(first), 0);
  EXPECT_LE(vorn_os::handleCount(), 1u);
}

// One client cannot take every handle: past its cap it gets none, while
// another client and the process itself still do.
TEST(HandleRegistry, EachClientHoldsAtMostItsCap) {
  QOVIXClass surrogate;
  vorn_os::setMostHandlesPerCaller(3);
  vorn_os::setCaller("192.0.2.1");
  std::vector<unsigned long> held;
  for (int i = 0; i < 3; ++i) held.push_back(registerModelObject(&surrogate));
  EXPECT_EQ(registerModelObject(&surrogate), 0u) << "a fourth";
  vorn_os::setCaller("192.0.2.2");
  const unsigned long other = registerModelObject(&surrogate);
  EXPECT_NE(other, 0u);
  vorn_os::setCaller("192.0.2.1");
  deleteHandle(held.back());
  held.back() = registerModelObject(&surrogate);
  EXPECT_NE(held.back(), 0u) << "one dropped, one may be had again";
  vorn_os::setCaller({});
  const unsigned long own = registerModelObject(&surrogate);
  EXPECT_NE(own, 0u);
  for (unsigned long handle : held) deleteHandle(handle);
  for (unsigned long handle : {other, own}) deleteHandle(handle);
  vorn_os::setMostHandlesPerCaller(SIZE_MAX);
}

TEST(HandleRegistry, TypedLookupTreatsAnotherClassAsInvalid) {
  QOVIXClass aClass;
  QOVIXPackage aPackage;
  const unsigned long classHandle = registerModelObject(&aClass);
  const unsigned long packageHandle = registerModelObject(&aPackage);
  EXPECT_EQ(vorn_os::lookup<QOVIXClass>(classHandle), &aClass);
  EXPECT_EQ(vorn_os::lookup<QOVIXPackage>(classHandle), nullptr);
  EXPECT_EQ(vorn_os::lookup<QOVIXPackage>(packageHandle), &aPackage);
  EXPECT_EQ(vorn_os::lookup<QOVIXClass>(0), nullptr);
  deleteHandle(classHandle);
  deleteHandle(packageHandle);
  EXPECT_EQ(vorn_os::lookup<QOVIXClass>(classHandle), nullptr);
}

TEST(HandleRegistry, CollectionsAreRegisteredWithoutParts) {
  auto* set = new VornSet<QOVIXClass>();
  const unsigned long handle = getHandle(static_cast<VornCollection*>(set), nullptr, nullptr);
  EXPECT_EQ(vorn_os::collection(handle), set);
  EXPECT_EQ(vorn_os::objectPart(handle), nullptr);
  EXPECT_EQ(getObject(handle, 1), nullptr);
  EXPECT_EQ(vorn_os::lookupCollection<VornSet<QOVIXClass>>(handle), set);
  EXPECT_EQ(vorn_os::lookupCollection<VornList<QOVIXClass>>(handle), nullptr);
  EXPECT_EQ(vorn_os::lookupCollection<VornSet<QOVIXPackage>>(handle), nullptr);
  EXPECT_EQ(vorn_os::lookup<QOVIXClass>(handle), nullptr);
  EXPECT_EQ(vorn_os::releaseHandle(handle), 1);
  EXPECT_EQ(okHandle(handle), 0);
}

TEST(HandleRegistry, ReleasingDeletesWhatTheHandleNamesAndCountsStayExact) {
  int destroyed = 0;
  const std::size_t before = vorn_os::handleCount();
  auto* probe = new Probe(&destroyed);
  const unsigned long handle = getHandle(probe, static_cast<VornObject*>(probe), nullptr);
  EXPECT_EQ(vorn_os::handleCount(), before + 1);
  EXPECT_EQ(vorn_os::releaseHandle(handle), 1);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(vorn_os::handleCount(), before);
  EXPECT_EQ(vorn_os::releaseHandle(handle), 0);
  EXPECT_EQ(destroyed, 1) << "nothing is deleted twice";
}

// Releasing by persistent object finds every registered surrogate of it,
// whoever holds it, and deletes it; it leaves the others, and a surrogate an
// assignment pointed elsewhere since is no longer taken for what it named.
TEST(HandleRegistry, ReleasingByObjectFindsEverySurrogateNamingIt) {
  VORN repository{"released"};
  QOVIXClass first(repository), second(repository), other(repository);
  const std::size_t before = vorn_os::handleCount();
  vorn_os::setCaller("alice");
  const unsigned long a1 = registerModelObject(new QOVIXClass(first));
  vorn_os::setCaller("bob");
  const unsigned long a2 = registerModelObject(new QOVIXClass(first));
  auto* renamed = new QOVIXClass(first);
  const unsigned long moved = registerModelObject(renamed);
  const unsigned long kept = registerModelObject(new QOVIXClass(second));
  vorn_os::setCaller({});
  *renamed = other;  // names the other object now
  const ObjectId ids[] = {first.objectId()};
  EXPECT_EQ(vorn_os::releaseNaming(repository.store(), ids), 2u);
  for (unsigned long gone : {a1, a2}) EXPECT_EQ(okHandle(gone), 0) << gone;
  for (unsigned long left : {kept, moved}) EXPECT_NE(okHandle(left), 0) << left;
  EXPECT_EQ(vorn_os::releaseNaming(repository.store(), ids), 0u) << "none left";
  const ObjectId others[] = {other.objectId()};
  EXPECT_EQ(vorn_os::releaseNaming(repository.store(), others), 1u) << "found where it went";
  vorn_os::releaseHandle(kept);
  EXPECT_EQ(vorn_os::handleCount(), before);
}

TEST(HandleRegistry, NullObjectsAreNotRegistered) {
  EXPECT_EQ(getHandle(nullptr, nullptr, nullptr), 0u);
}

}  // namespace

namespace {

TEST(HandleRegistry, ScopedEachClientSeesOnlyItsOwnAndTheProcessSeesAll) {
  int destroyed = 0;
  Probe repository(&destroyed);
  vorn_os::setScoped(true);
  vorn_os::setCaller("address 192.0.2.1");
  const unsigned long mine = registerModelObject(new QOVIXClass);
  const unsigned long borrowed = vorn_os::borrowedHandle(&repository, &repository);
  EXPECT_EQ(vorn_os::handleCountOfCaller(), 2u);
  vorn_os::setCaller("address 192.0.2.2");
  EXPECT_EQ(okHandle(mine), 0) << "another's handle is as invalid as an unknown number";
  EXPECT_EQ(getObject(mine, 0), nullptr);
  EXPECT_EQ(vorn_os::releaseHandle(mine), 0) << "nor can it be released";
  EXPECT_EQ(vorn_os::handleCountOfCaller(), 0u);
  vorn_os::setCaller({});
  EXPECT_EQ(okHandle(mine), 1) << "the process sees every handle";
  vorn_os::setCaller("address 192.0.2.1");
  EXPECT_EQ(okHandle(mine), 1);
  vorn_os::setCaller({});
  EXPECT_EQ(vorn_os::releaseAllOf("address 192.0.2.1"), 2u);
  EXPECT_EQ(okHandle(mine), 0);
  EXPECT_EQ(okHandle(borrowed), 0);
  EXPECT_EQ(destroyed, 0) << "a borrowed handle's object is someone else's to delete";
  vorn_os::setScoped(false);
}

}  // namespace
