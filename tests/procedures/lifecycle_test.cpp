// Lifecycle procedures through QOVIX_server_1: create, destroy, duplicate,
// assign, cast, class names; and the class check on every handle.
//
// Each routine keeps its slot for the life of the process, so each test
// uses procedures of its own where a slot's history matters.

#include <gtest/gtest.h>

#include "model_classes.h"
#include "model/vorn_os/handle_registry.h"
#include "tests/support/library_calls.h"

namespace {

constexpr ValueClassId kName = QOVIXName::kValueClassId;

class Lifecycle : public ::testing::Test {
 protected:
  LibraryCalls calls;
};

TEST_F(Lifecycle, FirstCallWithAnInvalidHandleRepliesZero) {
  EXPECT_EQ(calls.handle("QOVIXActor_create_1", words({0})), 0u);
  EXPECT_EQ(calls.handle("QOVIXActor_create_2", words({12345, 0})), 0u);
  EXPECT_EQ(calls.handle("QOVIXActor_duplicate_0", words({0}) + numberValue(24, 0)), 0u);
}

TEST_F(Lifecycle, CreateInRepositoryThenAnInvalidCallRepeatsTheHandle) {
  const InteropHandle first = calls.handle("QOVIXComment_create_1", words({calls.repository()}));
  EXPECT_NE(first, 0u);
  EXPECT_EQ(okHandle(first), 1);
  EXPECT_EQ(calls.handle("QOVIXComment_create_1", words({0})), first);
  EXPECT_EQ(calls.handle("QOVIXComment_create_1", words({first})), first)
      << "a comment is no repository";
}

TEST_F(Lifecycle, EachRoutineKeepsItsOwnSlot) {
  const InteropHandle made = calls.handle("QOVIXTrace_create_1", words({calls.repository()}));
  const InteropHandle a = calls.handle("QOVIXTrace_create_0");
  const InteropHandle b = calls.handle("QOVIXTrace_create_0");
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(calls.handle("QOVIXTrace_create_1", words({0})), made) << "not create_0's handle";
  EXPECT_EQ(vorn_os::lookup<QOVIXTrace>(a)->isNull(), 1) << "create_0 makes an empty surrogate";
}

TEST_F(Lifecycle, DestroyDropsTheHandleAndLaterCallsChangeNothing) {
  const InteropHandle tag = calls.handle("QOVIXTaggedValue_create_1", words({calls.repository()}));
  calls.call("QOVIXTaggedValue_set_tag_0", words({tag}) + textValue(kName, u"kept"));
  EXPECT_EQ(calls.text("QOVIXTaggedValue_get_tag_0", words({tag})), u"kept");
  EXPECT_EQ(calls.call("QOVIXTaggedValue_destroy_0", words({tag})).status, ReplyStatus::Success);
  EXPECT_EQ(okHandle(tag), 0);
  calls.call("QOVIXTaggedValue_set_tag_0", words({tag}) + textValue(kName, u"lost"));
  EXPECT_EQ(calls.text("QOVIXTaggedValue_get_tag_0", words({tag})), u"kept")
      << "the held value repeats";
  EXPECT_EQ(calls.call("QOVIXTaggedValue_destroy_0", words({tag})).status, ReplyStatus::Success);
}

TEST_F(Lifecycle, DestroyWithAHandleOfAnotherClassDeletesNothing) {
  const InteropHandle note = calls.handle("QOVIXComment_create_1", words({calls.repository()}));
  calls.call("QOVIXUsage_destroy_0", words({note}));
  EXPECT_EQ(okHandle(note), 1);
  calls.call("QOVIXUsage_destroy_0", words({calls.repository()}));
  EXPECT_EQ(okHandle(calls.repository()), 1) << "nor the repository";
}

TEST_F(Lifecycle, AssignWithAnInvalidSourceRepeatsTheSlot) {
  const InteropHandle a = calls.handle("QOVIXNode_create_1", words({calls.repository()}));
  const InteropHandle b = calls.handle("QOVIXNode_create_1", words({calls.repository()}));
  EXPECT_EQ(calls.handle("QOVIXNode_operatorAssign_0", words({a, b})), a);
  EXPECT_EQ(vorn_os::lookup<QOVIXNode>(a)->objectId(), vorn_os::lookup<QOVIXNode>(b)->objectId());
  const InteropHandle c = calls.handle("QOVIXNode_create_1", words({calls.repository()}));
  EXPECT_EQ(calls.handle("QOVIXNode_operatorAssign_0", words({c, 0})), a);
  EXPECT_EQ(calls.handle("QOVIXNode_operatorAssign_0", words({c, calls.repository()})), a);
}

// After an assignment the registry files the target under what it names
// now: releasing what the source names (a delete's last step) takes both.
TEST_F(Lifecycle, AnAssignedHandleGoesWithWhatItNamesNow) {
  const InteropHandle a = calls.handle("QOVIXNode_create_1", words({calls.repository()}));
  const InteropHandle b = calls.handle("QOVIXNode_create_1", words({calls.repository()}));
  const InteropHandle other = calls.handle("QOVIXNode_create_1", words({calls.repository()}));
  EXPECT_EQ(calls.handle("QOVIXNode_operatorAssign_0", words({a, b})), a);
  const QOVIXNode* named = vorn_os::lookup<QOVIXNode>(b);
  const ObjectId ids[] = {named->objectId()};
  EXPECT_GE(vorn_os::releaseNaming(*named->store(), ids), 2u);  // and any earlier test left
  EXPECT_EQ(okHandle(a), 0);
  EXPECT_EQ(okHandle(b), 0);
  EXPECT_NE(okHandle(other), 0);
}

TEST_F(Lifecycle, DuplicateMakesANewObjectAndRegistersOnlyValidOnes) {
  const InteropHandle tag = calls.handle("QOVIXException_create_1", words({calls.repository()}));
  calls.call("QOVIXException_set_body_0",
             words({tag}) + textValue(QOVIXString::kValueClassId, u"x"));
  const InteropHandle copy =
      calls.handle("QOVIXException_duplicate_0", words({tag}) + numberValue(24, 0));
  EXPECT_NE(copy, 0u);
  EXPECT_NE(copy, tag);
  EXPECT_EQ(calls.text("QOVIXException_get_body_0", words({copy})), u"x");
  EXPECT_NE(vorn_os::lookup<QOVIXException>(copy)->objectId(),
            vorn_os::lookup<QOVIXException>(tag)->objectId());

  const InteropHandle empty = calls.handle("QOVIXException_create_0");
  const std::size_t before = vorn_os::handleCount();
  EXPECT_EQ(calls.handle("QOVIXException_duplicate_0", words({empty}) + numberValue(24, 0)), copy)
      << "an empty surrogate's duplicate is not valid";
  EXPECT_EQ(vorn_os::handleCount(), before);
  EXPECT_EQ(calls.handle("QOVIXException_duplicate_0", words({tag}) + numberValue(24, 2)), copy)
      << "no such reference processing";
  EXPECT_EQ(calls.handle("QOVIXException_duplicate_0", words({tag}) + numberValue(12, 0)), copy)
      << "a value of another class";
}

TEST_F(Lifecycle, CastGivesAHandleOfTheClassOnTheSameObject) {
  const InteropHandle aClass = calls.handle("QOVIXClass_create_1", words({calls.repository()}));
  const InteropHandle asClassifier = handleOf(calls.cast("QOVIXClassifier", aClass, 1));
  ASSERT_NE(asClassifier, 0u);
  ASSERT_NE(vorn_os::lookup<QOVIXClassifier>(asClassifier), nullptr);
  EXPECT_EQ(vorn_os::lookup<QOVIXClassifier>(asClassifier)->objectId(),
            vorn_os::lookup<QOVIXClass>(aClass)->objectId());
  EXPECT_EQ(calls.integer("QOVIXClassifier_size_feature_0", words({asClassifier})), 0);

  const InteropHandle asPackage = handleOf(calls.cast("QOVIXPackage", aClass, 1));
  ASSERT_NE(vorn_os::lookup<QOVIXPackage>(asPackage), nullptr) << "registered without a test";
  EXPECT_EQ(vorn_os::lookup<QOVIXPackage>(asPackage)->isNull(), 1) << "the check said no";
  EXPECT_EQ(handleOf(calls.cast("QOVIXPackage", calls.repository(), 0)), asPackage)
      << "the repository is no persistent object";
}

TEST_F(Lifecycle, ClassNameTwiceGivesTheSameText) {
  EXPECT_EQ(calls.optionalString("QOVIXTaggedValue_className_0"), "QOVIXTaggedValue");
  EXPECT_EQ(calls.optionalString("QOVIXTaggedValue_className_0"), "QOVIXTaggedValue");
  EXPECT_EQ(calls.optionalString("QOVIXActivityState_modelPrefix_0"), "QOVIX");
  EXPECT_EQ(calls.call("QOVIXTaggedValue_className_0").body,
            words({1, 16, 0x514F5649, 0x58546167, 0x67656456, 0x616C7565}));
}

TEST_F(Lifecycle, AHandleOfAnotherClassCallsNothing) {
  const InteropHandle aClass = calls.handle("QOVIXClass_create_1", words({calls.repository()}));
  const InteropHandle package = calls.handle("QOVIXPackage_create_1", words({calls.repository()}));
  calls.call("QOVIXClass_set_isActive_0", words({aClass}) + numberValue(12, 1));
  calls.call("QOVIXClass_set_isActive_0", words({package}) + numberValue(12, 0));
  EXPECT_EQ(calls.value("QOVIXClass_get_isActive_0", words({aClass})).number, 1);
  EXPECT_EQ(calls.value("QOVIXClass_get_isActive_0", words({package})).number, 0)
      << "the default, as for an invalid handle";
}

TEST_F(Lifecycle, ModelErrorsPassOutOfTheLibrary) {
  const InteropHandle empty = calls.handle("QOVIXClassifier_create_0");
  EXPECT_THROW(calls.call("QOVIXClassifier_size_feature_0", words({empty})), std::invalid_argument);
  EXPECT_EQ(calls.transport().freeargsCalls(), 1) << "the arguments were still freed";

  // The converted value is released as the exception passes (checked for
  // leaks under AddressSanitizer), and nothing was registered.
  const InteropHandle multiplicity =
      calls.handle("QOVIXMultiplicity_create_1", words({calls.repository()}));
  const std::size_t before = vorn_os::handleCount();
  EXPECT_THROW(calls.call("QOVIXMultiplicity_QOVIXMultiplicitysetValue_0",
                          words({multiplicity}) + textValue(QOVIXString::kValueClassId, u"many")),
               std::invalid_argument);
  EXPECT_THROW(calls.call("QOVIXMultiplicity_get_ranges_1", words({multiplicity, 0})),
               std::out_of_range);
  EXPECT_EQ(vorn_os::handleCount(), before);
}

}  // namespace
