// Attribute, reference, collection and query procedures through
// QOVIX_server_1, with the slot rules of each form.

#include <gtest/gtest.h>

#include "model_classes.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/vorn_os/handle_registry.h"
#include "tests/support/library_calls.h"

namespace {

constexpr ValueClassId kName = QOVIXName::kValueClassId;
constexpr ValueClassId kString = QOVIXString::kValueClassId;
constexpr ValueClassId kBoolean = QOVIXBoolean::kValueClassId;
constexpr ValueClassId kVornString = VornString::kValueClassId;

class Features : public ::testing::Test {
 protected:
  InteropHandle make(const std::string& className) {
    return calls.handle(className + "_create_1", words({calls.repository()}));
  }
  LibraryCalls calls;
};

TEST_F(Features, HeldGetterRepeatsItsLastValueAndStartsAtTheDefault) {
  const DecodedValue first = calls.value("QOVIXStereotype_get_baseClass_0", words({0}));
  EXPECT_EQ(first.kind, 10);
  EXPECT_EQ(first.extra, kName);
  EXPECT_EQ(first.text, u"") << "the default name, built on the first call";

  const InteropHandle stereotype = make("QOVIXStereotype");
  calls.call("QOVIXStereotype_set_baseClass_0", words({stereotype}) + textValue(kName, u"Class"));
  EXPECT_EQ(calls.text("QOVIXStereotype_get_baseClass_0", words({stereotype})), u"Class");
  EXPECT_EQ(calls.text("QOVIXStereotype_get_baseClass_0", words({0})), u"Class");
}

TEST_F(Features, ScalarGetterGivesTheDefaultForAnInvalidHandle) {
  const InteropHandle end = make("QOVIXAssociationEnd");
  calls.call("QOVIXAssociationEnd_set_isNavigable_0", words({end}) + numberValue(kBoolean, 1));
  EXPECT_EQ(calls.value("QOVIXAssociationEnd_get_isNavigable_0", words({end})).number, 1);
  const DecodedValue invalid = calls.value("QOVIXAssociationEnd_get_isNavigable_0", words({0}));
  EXPECT_EQ(invalid.number, 0);
  EXPECT_EQ(invalid.extra, kBoolean);
}

TEST_F(Features, FreshFormGivesTheDefaultForAnInvalidHandle) {
  const InteropHandle reference = make("QOVIXElementReference");
  calls.call("QOVIXElementReference_set_alias_0", words({reference}) + textValue(kName, u"Acc"));
  const DecodedValue label =
      calls.value("QOVIXElementReference_QOVIXElementReferencelabel_0", words({reference}));
  EXPECT_EQ(label.text, u"Acc");
  EXPECT_EQ(label.extra, kVornString);
  EXPECT_EQ(calls.text("QOVIXElementReference_QOVIXElementReferencelabel_0", words({0})), u"");
}

TEST_F(Features, SettersIgnoreInvalidHandlesAndUnconvertibleValues) {
  const InteropHandle action = make("QOVIXAction");
  calls.call("QOVIXAction_set_script_0", words({action}) + textValue(kString, u"go"));
  calls.call("QOVIXAction_set_script_0", words({0}) + textValue(kString, u"other"));
  calls.call("QOVIXAction_set_script_0", words({action}) + textValue(kName, u"wrong class"));
  calls.call("QOVIXAction_set_script_0", words({action}) + numberValue(kString, 3));
  calls.call("QOVIXAction_set_script_0", words({action}) + nullValue());
  EXPECT_EQ(calls.call("QOVIXAction_set_script_0", words({action}) + words({10, 999, 0})).status,
            ReplyStatus::Success)
      << "an unknown class is just not converted";
  EXPECT_EQ(calls.text("QOVIXAction_get_script_0", words({action})), u"go");
}

TEST_F(Features, GettersOfOneValueClassKeepSeparateHeldObjects) {
  const InteropHandle diagram = make("QOVIXDiagram");
  calls.call("QOVIXDiagram_set_myName_0", words({diagram}) + textValue(kName, u"mine"));
  calls.call("QOVIXDiagram_set_toolName_0", words({diagram}) + textValue(kName, u"tool"));
  EXPECT_EQ(calls.text("QOVIXDiagram_get_toolName_0", words({diagram})), u"tool");
  EXPECT_EQ(calls.text("QOVIXDiagram_get_myName_0", words({diagram})), u"mine");
  EXPECT_EQ(calls.text("QOVIXDiagram_get_toolName_0", words({0})), u"tool");
}

TEST_F(Features, ReferenceGettersGiveANewHandleEachTime) {
  const InteropHandle method = make("QOVIXMethod");
  const InteropHandle operation = make("QOVIXOperation");
  EXPECT_EQ(calls.integer("QOVIXMethod_isNull_specification_0", words({0})), 0);
  calls.call("QOVIXMethod_set_specification_0", words({method, operation}));
  EXPECT_EQ(calls.integer("QOVIXMethod_isNull_specification_0", words({method})), 0);
  const InteropHandle a = calls.handle("QOVIXMethod_get_specification_0", words({method}));
  const InteropHandle b = calls.handle("QOVIXMethod_get_specification_0", words({method}));
  EXPECT_NE(a, b);
  EXPECT_EQ(calls.handle("QOVIXMethod_get_specification_0", words({0})), b);
  calls.call("QOVIXOperation_destroy_0", words({a}));
  EXPECT_EQ(calls.integer("QOVIXOperation_size_method_0", words({b})), 0) << "b still works";

  calls.call("QOVIXMethod_flush_specification_0", words({method}));
  EXPECT_EQ(calls.integer("QOVIXMethod_isNull_specification_0", words({method})), 1);
  const InteropHandle empty = calls.handle("QOVIXMethod_get_specification_0", words({method}));
  EXPECT_NE(empty, b) << "an empty reference still gives a new handle";
  EXPECT_EQ(vorn_os::lookup<QOVIXOperation>(empty)->isNull(), 1);
}

TEST_F(Features, ReferenceSettersCheckTheElementsClass) {
  const InteropHandle method = make("QOVIXMethod");
  const InteropHandle notAnOperation = make("QOVIXReception");
  calls.call("QOVIXMethod_set_specification_0", words({method, notAnOperation}));
  EXPECT_EQ(calls.integer("QOVIXMethod_isNull_specification_0", words({method})), 1);
}

TEST_F(Features, CollectionsThroughTheirTenProcedures) {
  const InteropHandle classifier = make("QOVIXClassifier");
  const InteropHandle first = make("QOVIXFeature");
  const InteropHandle second = make("QOVIXFeature");
  EXPECT_EQ(calls.integer("QOVIXClassifier_size_feature_0", words({0})), 0);
  EXPECT_EQ(calls.integer("QOVIXClassifier_isNull_feature_0", words({classifier})), 1);
  calls.call("QOVIXClassifier_add_feature_0", words({classifier, second, 0}));
  calls.call("QOVIXClassifier_add_feature_0", words({classifier, first, 0}));
  EXPECT_EQ(calls.integer("QOVIXClassifier_size_feature_0", words({classifier})), 2);
  EXPECT_EQ(calls.integer("QOVIXClassifier_contains_feature_0", words({classifier, first})), 1);
  const InteropHandle atZero =
      calls.handle("QOVIXClassifier_get_feature_1", words({classifier, 0}));
  EXPECT_EQ(vorn_os::lookup<QOVIXFeature>(atZero)->objectId(),
            vorn_os::lookup<QOVIXFeature>(first)->objectId())
      << "the position was passed";

  const InteropHandle whole = calls.handle("QOVIXClassifier_get_feature_0", words({classifier}));
  const InteropHandle again = calls.handle("QOVIXClassifier_get_feature_0", words({classifier}));
  EXPECT_NE(whole, again);
  ASSERT_NE(vorn_os::lookupCollection<VornList<QOVIXFeature>>(whole), nullptr);
  EXPECT_EQ(vorn_os::lookupCollection<VornList<QOVIXFeature>>(whole)->size(), 2);

  calls.call("QOVIXClassifier_rmv_feature_0", words({classifier, first}));
  calls.call("QOVIXClassifier_rmv_feature_1", words({classifier, 0}));
  EXPECT_EQ(calls.integer("QOVIXClassifier_size_feature_0", words({classifier})), 0);
  calls.call("QOVIXClassifier_set_feature_0", words({classifier, whole}));
  EXPECT_EQ(calls.integer("QOVIXClassifier_size_feature_0", words({classifier})), 2);
  calls.call("QOVIXClassifier_set_feature_0", words({classifier, classifier}));
  EXPECT_EQ(calls.integer("QOVIXClassifier_size_feature_0", words({classifier})), 2)
      << "an object is no collection";
  calls.call("QOVIXClassifier_flush_feature_0", words({classifier}));
  EXPECT_EQ(calls.integer("QOVIXClassifier_isNull_feature_0", words({classifier})), 1);
  EXPECT_THROW(calls.call("QOVIXClassifier_get_feature_1", words({classifier, 5})),
               std::out_of_range);
}

// Every ordered collection refuses a place outside 0..size, whether the
// member is new or already in the list, and keeps what it held.
TEST_F(Features, EveryListRefusesAPlaceOutsideItself) {
  std::size_t lists = 0;
  for (const FeatureInfo& feature : modelFeatures()) {
    if (feature.kind != FeatureKind::List) continue;
    ++lists;
    const std::string owner = classInfo(feature.owner).name;
    const std::string add = owner + "_add_" + feature.name + "_0";
    const std::string size = owner + "_size_" + feature.name + "_0";
    const std::string memberClass = classInfo(feature.elementClass).name;
    const InteropHandle object = make(owner);
    const InteropHandle held = make(memberClass);
    const InteropHandle other = make(memberClass);
    calls.call(add, words({object, held, 0}));
    ASSERT_EQ(calls.integer(size, words({object})), 1) << add;
    for (const std::int32_t outside : {7, 2, -1}) {
      EXPECT_THROW(calls.call(add, words({object, other, static_cast<std::uint32_t>(outside)})),
                   std::out_of_range)
          << add << " at " << outside;
      EXPECT_THROW(calls.call(add, words({object, held, static_cast<std::uint32_t>(outside)})),
                   std::out_of_range)
          << add << " of a member already there, at " << outside;
    }
    EXPECT_EQ(calls.integer(size, words({object})), 1) << add;
  }
  EXPECT_EQ(lists, 14u);
}

TEST_F(Features, TheListOfValues) {
  const InteropHandle useCase = make("QOVIXUseCase");
  EXPECT_EQ(calls.call("QOVIXUseCase_get_extensionPoint_1", words({0, 0})).status,
            ReplyStatus::SystemError)
      << "before any valid call the slot is no data value";
  calls.call("QOVIXUseCase_add_extensionPoint_0",
             words({useCase}) + textValue(kString, u"b") + words({0}));
  calls.call("QOVIXUseCase_add_extensionPoint_0",
             words({useCase}) + textValue(kString, u"a") + words({0}));
  EXPECT_EQ(calls.integer("QOVIXUseCase_size_extensionPoint_0", words({useCase})), 2);
  EXPECT_EQ(calls.text("QOVIXUseCase_get_extensionPoint_1", words({useCase, 1})), u"b");
  EXPECT_EQ(calls.text("QOVIXUseCase_get_extensionPoint_1", words({0, 0})), u"b");
  EXPECT_EQ(calls.integer("QOVIXUseCase_contains_extensionPoint_0",
                          words({useCase}) + textValue(kString, u"a")),
            1);
  calls.call("QOVIXUseCase_rmv_extensionPoint_0", words({useCase}) + textValue(kString, u"a"));
  calls.call("QOVIXUseCase_rmv_extensionPoint_1", words({useCase, 0}));
  EXPECT_EQ(calls.integer("QOVIXUseCase_isNull_extensionPoint_0", words({useCase})), 1);
}

TEST_F(Features, FindsGiveNewArraysAndPassTheirTextsInOrder) {
  const InteropHandle a = make("QOVIXConstraint");
  const InteropHandle b = make("QOVIXConstraint");
  calls.call("QOVIXConstraint_set_body_0",
             words({a}) + textValue(QOVIXBooleanExpression::kValueClassId, u"x > 0"));
  calls.call("QOVIXConstraint_set_body_0",
             words({b}) + textValue(QOVIXBooleanExpression::kValueClassId, u"body"));
  const InteropHandle all =
      calls.handle("QOVIXConstraint__find__0", words({calls.repository(), 0}));
  const InteropHandle again =
      calls.handle("QOVIXConstraint__find__0", words({calls.repository(), 0}));
  EXPECT_NE(all, again);
  EXPECT_EQ(vorn_os::lookupCollection<VornArray<QOVIXConstraint>>(all)->size(), 2);

  const InteropHandle found = calls.handle(
      "QOVIXConstraint__find__1", words({calls.repository()}) + textValue(kVornString, u"body") +
                                      textValue(kVornString, u"x > 0") + words({0}));
  const auto* hits = vorn_os::lookupCollection<VornArray<QOVIXConstraint>>(found);
  ASSERT_NE(hits, nullptr);
  ASSERT_EQ(hits->size(), 1);
  EXPECT_EQ(hits->idAt(0), vorn_os::lookup<QOVIXConstraint>(a)->objectId());
  // Swapped, the text "body" names no attribute: the model refuses.
  EXPECT_THROW(calls.call("QOVIXConstraint__find__1",
                          words({calls.repository()}) + textValue(kVornString, u"x > 0") +
                              textValue(kVornString, u"body") + words({0})),
               std::invalid_argument);
  // A QOVIXName is a VornString and serves as well.
  EXPECT_NE(calls.handle("QOVIXConstraint__find__1", words({calls.repository()}) +
                                                         textValue(kName, u"body") +
                                                         textValue(kName, u"body") + words({0})),
            found);
  EXPECT_EQ(calls.handle("QOVIXConstraint__find__0", words({0, 0})), again) << "invalid repository";
}

TEST_F(Features, FindByNameAndNumber) {
  const InteropHandle space = make("QOVIXNamespace");
  const InteropHandle aClass = make("QOVIXClass");
  calls.call("QOVIXClass_QOVIXClassconstruct_0",
             words({aClass, space}) + textValue(kName, u"Account"));
  calls.call("QOVIXClass_set_isActive_0", words({aClass}) + numberValue(kBoolean, 1));
  const InteropHandle byName =
      calls.handle("QOVIXModelElement_find_myName_0",
                   words({calls.repository()}) + textValue(kName, u"Account"));
  EXPECT_EQ(vorn_os::lookupCollection<VornArray<QOVIXModelElement>>(byName)->size(), 1);
  const InteropHandle active =
      calls.handle("QOVIXClass__find__2", words({calls.repository()}) +
                                              textValue(kVornString, u"isActive") + words({1, 0}));
  EXPECT_EQ(vorn_os::lookupCollection<VornArray<QOVIXClass>>(active)->size(), 1);
}

TEST_F(Features, HasSameSignatureWithAnInvalidSecondHandleGivesTheDefault) {
  const InteropHandle classifier = make("QOVIXClassifier");
  const InteropHandle a = make("QOVIXBehavioralFeature");
  const InteropHandle b = make("QOVIXBehavioralFeature");
  calls.call("QOVIXBehavioralFeature_QOVIXBehavioralFeatureconstruct_0",
             words({a, classifier}) + textValue(kName, u"op"));
  calls.call("QOVIXBehavioralFeature_QOVIXBehavioralFeatureconstruct_0",
             words({b, classifier}) + textValue(kName, u"op"));
  const char* label = "QOVIXBehavioralFeature_QOVIXBehavioralFeaturehasSameSignature_0";
  EXPECT_EQ(calls.value(label, words({a, b})).number, 1);
  const DecodedValue invalid = calls.value(label, words({a, 0}));
  EXPECT_EQ(invalid.number, 0);
  EXPECT_EQ(invalid.extra, kBoolean);
}

TEST_F(Features, ClassOperationsOverTheWire) {
  const InteropHandle package = make("QOVIXPackage");
  const InteropHandle aClass = make("QOVIXClass");
  calls.call(
      "QOVIXClass_QOVIXClassconstruct_0",
      words({aClass, handleOf(calls.cast("QOVIXNamespace", package, 1))}) + textValue(kName, u"A"));
  const InteropHandle contents =
      calls.handle("QOVIXPackage_QOVIXPackagecontents_0", words({package}));
  EXPECT_EQ(vorn_os::lookupCollection<VornSet<QOVIXModelElement>>(contents)->size(), 1);
  EXPECT_EQ(calls.value("QOVIXPackage_QOVIXPackagecheckWellFormedness_0", words({package})).number,
            1);
  EXPECT_EQ(calls.value("QOVIXPackage_QOVIXPackagecheckWellFormedness_0", words({0})).extra,
            VornBoolean::kValueClassId);
}

}  // namespace
