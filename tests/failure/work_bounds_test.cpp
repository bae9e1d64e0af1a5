// What the expensive calls cost, counted in store operations rather than
// time: each must grow with what it touches, never with the product of two
// sizes nor with every feature the catalogue has. A store whose n-th
// operation fails counts them: a call that ends before the n-th stayed
// within n.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "model_classes.h"
#include "model/qovix_srv/model_metadata.h"
#include "tests/failure/fault_injection.h"
#include "tests/support/temporary_folder.h"

namespace {

class WorkBounds : public ::testing::Test {
 protected:
  WorkBounds() { store().settings().documentFolder = folder_.path(); }

  PersistentStore& store() { return repository_.store(); }

  ObjectId made(ClassId classId, const std::string& name, ObjectId owner, FeatureId holder) {
    const ObjectId id = store().create(classId);
    StoredValue named{QOVIXName::kValueClassId, 0, {}};
    for (char each : name) named.text.push_back(static_cast<char16_t>(each));
    store().setValue(id, feature::name, named);
    if (owner != 0) store().appendMember(owner, holder, id);
    return id;
  }

  // Whether `call` ended within `budget` store operations.
  template <class Call>
  static bool within(std::size_t budget, Call call) {
    faults::arm(faults::Kind::StoreOperation, budget);
    try {
      call();
    } catch (const std::runtime_error&) {
      // the budget ran out (or the call failed on its own: the fault says which)
    }
    return !faults::disarm();
  }

  TemporaryFolder folder_;
  VORN repository_{"work", makeFaultyStore(makeMemoryStore())};
};

// A classifier's behavioral features are compared by signature, not pair by
// pair.
TEST_F(WorkBounds, WellFormednessOfAClassIsNotQuadraticInItsFeatures) {
  constexpr int kOperations = 4000;
  const ObjectId wide = made(QOVIXClass::kClassId, "Wide", 0, 0);
  for (int i = 0; i < kOperations; ++i) {
    made(QOVIXOperation::kClassId, std::string("op").append(std::to_string(i)), wide,
         feature::QOVIXClassifier_feature);
  }
  QOVIXClassifier classifier(ObjectRef{&store(), wide});
  bool wellFormed = false;
  EXPECT_TRUE(within(kOperations * 30,
                     [&] { wellFormed = classifier.checkWellFormedness().number() == 1; }));
  EXPECT_TRUE(wellFormed);
  // A second operation of an existing signature is found.
  made(QOVIXOperation::kClassId, "op1234", wide, feature::QOVIXClassifier_feature);
  EXPECT_EQ(classifier.checkWellFormedness().number(), 0);
}

// Exports and copies ask each object for the slots it has written, not for
// every feature its class could have.
TEST_F(WorkBounds, ExportsAndCopiesAreLinearInThePackage) {
  constexpr int kClasses = 3000;
  const ObjectId package = made(QOVIXPackage::kClassId, "P", 0, 0);
  for (int i = 0; i < kClasses; ++i) {
    const ObjectId each = made(QOVIXClass::kClassId, std::string("C").append(std::to_string(i)),
                               package, feature::QOVIXNamespace_ownedElement);
    made(QOVIXAttribute::kClassId, "a", each, feature::QOVIXClassifier_feature);
  }
  const std::size_t budget = 2 * kClasses * 20;  // 20 operations an object
  QOVIXPackage copied(ObjectRef{&store(), package});
  const ObjectId into = made(QOVIXPackage::kClassId, "Into", 0, 0);
  QOVIXNamespace target(ObjectRef{&store(), into});
  EXPECT_TRUE(
      within(budget, [&] { copied.externalize(QOVIXUninterpreted(u"qovix"), QOVIXString(u"p")); }));
  EXPECT_TRUE(within(
      budget, [&] { copied.externalize(QOVIXUninterpreted(u"xmi"), QOVIXString(u"p.xmi")); }));
  EXPECT_TRUE(within(budget, [&] { copied.copyModel(target); }));
  EXPECT_TRUE(
      within(budget, [&] { copied.internalize(QOVIXUninterpreted(u"qovix"), QOVIXString(u"p")); }));
  store().commit();
  EXPECT_EQ(QOVIXNamespace(ObjectRef{&store(), into}).size_ownedElement(), 1);
}

}  // namespace
