// UML 2 models in the styles of four tools' XMI 2.x, read into the UML 1.1
// model: what each becomes, feature by feature, and what the report says.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "model_classes.h"
#include "model/qovix_srv/model_metadata.h"
#include "interchange/packages/package_documents.h"
#include "tests/support/temporary_folder.h"
#include "utf/utf.h"

namespace {

const QOVIXUninterpreted kXmi(u"xmi");

class Uml2 : public ::testing::Test {
 protected:
  void SetUp() override { repository.store().settings().documentFolder = folder; }

  // Imports the sample; its report.
  std::string import(const char* name) {
    std::filesystem::copy_file(std::filesystem::path(QOVIX_XMI_SAMPLES) / name, folder / name);
    return reportOf(anchor.internalize(kXmi, QOVIXString(utf::toUtf16(std::string(name)))));
  }
  std::string reportOf(const QOVIXPackage& package) {
    return text(
        QOVIXModelElement::cast(package, 1).getTaggedValue(QOVIXName(u"qovix.import")).objectId(),
        feature::QOVIXTaggedValue_umlValue);
  }

  PersistentStore& store() { return repository.store(); }
  std::string text(ObjectId id, FeatureId feature) {
    const auto value = store().value(id, feature);
    return value ? utf::toUtf8(value->text) : std::string();
  }
  int number(ObjectId id, FeatureId feature) {
    const auto value = store().value(id, feature);
    return value ? value->number : -100;
  }
  ObjectId named(ClassId classId, const std::string& name) {
    for (ObjectId id : store().instancesOf(conformingClasses(classId))) {
      if (text(id, feature::name) == name) return id;
    }
    ADD_FAILURE() << "no " << classInfo(classId).name << " named " << name;
    return 0;
  }
  std::vector<std::string> names(const std::vector<ObjectId>& ids) {
    std::vector<std::string> out;
    for (ObjectId id : ids) out.push_back(text(id, feature::name));
    return out;
  }
  std::string typeName(ObjectId typed, FeatureId feature) {
    return text(store().reference(typed, feature), feature::name);
  }
  std::string multiplicity(ObjectId id, FeatureId feature) {
    const ObjectId made = store().reference(id, feature);
    if (made == 0) return "none";
    return utf::toUtf8(QOVIXMultiplicity(ObjectRef{&store(), made}).getValue().text());
  }
  ObjectId end(const std::string& association, const std::string& name) {
    for (ObjectId each : store().members(named(QOVIXAssociation::kClassId, association),
                                         feature::QOVIXAssociation_connection)) {
      if (text(each, feature::name) == name) return each;
    }
    ADD_FAILURE() << association << " has no end " << name;
    return 0;
  }
  static void says(const std::string& report, std::initializer_list<const char*> lines) {
    for (const char* line : lines) {
      EXPECT_NE(report.find(line), std::string::npos) << line << " not in\n" << report;
    }
  }

  TemporaryFolder temporary;
  const std::filesystem::path& folder = temporary.path();
  VORN repository{"uml2"};
  QOVIXPackage anchor{repository};
};

TEST_F(Uml2, EclipseAndPapyrusModels) {
  const std::string report = import("uml25_papyrus_style.uml");
  const ObjectId account = named(QOVIXClass::kClassId, "Account");
  EXPECT_EQ(number(account, feature::QOVIXGeneralizableElement_isAbstract), 1);
  // Attributes and operations; the association's end is no attribute.
  EXPECT_EQ(names(store().members(account, feature::QOVIXClassifier_feature)),
            (std::vector<std::string>{"balance", "deposit"}));
  const ObjectId balance = named(QOVIXAttribute::kClassId, "balance");
  EXPECT_EQ(typeName(balance, feature::QOVIXStructuralFeature_type), "Real");
  EXPECT_EQ(number(balance, feature::QOVIXFeature_visibility), 2);  // private
  EXPECT_EQ(text(balance, feature::QOVIXAttribute_initialValue), "0.0");
  EXPECT_EQ(
      number(named(QOVIXAttribute::kClassId, "rate"), feature::QOVIXStructuralFeature_changeable),
      1);  // frozen
  const std::vector<ObjectId> parameters = store().members(
      named(QOVIXOperation::kClassId, "deposit"), feature::QOVIXBehavioralFeature_parameter);
  ASSERT_EQ(parameters.size(), 2u);
  EXPECT_EQ(typeName(parameters[0], feature::QOVIXParameter_type), "Real");
  EXPECT_EQ(number(parameters[1], feature::QOVIXParameter_kind), 3);  // return
  EXPECT_EQ(typeName(parameters[1], feature::QOVIXParameter_type), "Boolean");
  // The whole's end is marked at the whole, as UML 1.x has it.
  const ObjectId owner = end("holds", "owner");
  const ObjectId accounts = end("holds", "accounts");
  EXPECT_EQ(typeName(owner, feature::QOVIXAssociationEnd_type), "Customer");
  EXPECT_EQ(number(owner, feature::QOVIXAssociationEnd_aggregation), 2);  // composite
  EXPECT_EQ(number(owner, feature::QOVIXAssociationEnd_isNavigable), 1);
  EXPECT_EQ(multiplicity(owner, feature::QOVIXAssociationEnd_multiplicity), "1");
  EXPECT_EQ(number(accounts, feature::QOVIXAssociationEnd_isNavigable), 0);
  EXPECT_EQ(multiplicity(accounts, feature::QOVIXAssociationEnd_multiplicity), "0..*");
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), named(QOVIXClass::kClassId, "Savings")})
                .allSupertypes()
                .ids(),
            std::vector<ObjectId>{account});
  EXPECT_EQ(store().members(account, feature::QOVIXClassifier_specification),
            std::vector<ObjectId>{named(QOVIXInterface::kClassId, "Auditable")});
  std::vector<std::string> literals;
  for (ObjectId literal : store().members(named(QOVIXEnumeration::kClassId, "Kind"),
                                          feature::QOVIXEnumeration_literal)) {
    literals.push_back(text(literal, feature::QOVIXEnumerationLiteral_name));
  }
  EXPECT_EQ(literals, (std::vector<std::string>{"CHECKING", "SAVINGS"}));
  const ObjectId usage = store().instancesOf(conformingClasses(QOVIXUsage::kClassId)).front();
  EXPECT_EQ(names(store().members(usage, feature::QOVIXDependency_client)),
            std::vector<std::string>{"Customer"});
  EXPECT_EQ(named(QOVIXComment::kClassId, "Accounts hold money.") != 0, true);
  // The state machine's region is its top state.
  const ObjectId machine = named(QOVIXStateMachine::kClassId, "lifecycle");
  EXPECT_EQ(store().reference(machine, feature::QOVIXStateMachine_context), account);
  const ObjectId top = store().reference(machine, feature::QOVIXStateMachine_top);
  EXPECT_EQ(store().members(top, feature::QOVIXCompositeState_substate).size(), 3u);
  EXPECT_EQ(store().members(machine, feature::QOVIXStateMachine_transitions).size(), 2u);
  named(QOVIXActor::kClassId, "Teller");
  named(QOVIXUseCase::kClassId, "Open account");
  // The stereotype applied, with its tagged value, from the profile in the document.
  const ObjectId customer = named(QOVIXClass::kClassId, "Customer");
  EXPECT_EQ(names(store().members(customer, feature::QOVIXModelElement_stereotype)),
            std::vector<std::string>{"Entity"});
  EXPECT_EQ(text(QOVIXModelElement(ObjectRef{&store(), customer})
                     .getTaggedValue(QOVIXName(u"table"))
                     .objectId(),
                 feature::QOVIXTaggedValue_umlValue),
            "CUSTOMERS");
  says(report,
       {"XMI 2.5.1, UML 2 (read as UML 1.4)", "  1 Region: flattened into the state that holds it",
        "  1 uml:InstanceSpecification: UML 1.1 has no counterpart",
        "  1 Model.profileApplication: UML 1.1 has no counterpart"});
}

TEST_F(Uml2, EnterpriseArchitectModels) {
  const std::string report = import("uml21_enterprise_architect_style.xmi");
  const ObjectId order = named(QOVIXClass::kClassId, "Order");
  const ObjectId total = named(QOVIXAttribute::kClassId, "total");
  EXPECT_EQ(typeName(total, feature::QOVIXStructuralFeature_type), "int");  // EAJava_int
  EXPECT_EQ(multiplicity(total, feature::QOVIXStructuralFeature_multiplicity), "1");
  EXPECT_EQ(names(store().members(order, feature::QOVIXClassifier_feature)),
            (std::vector<std::string>{"total", "add"}));
  const std::vector<ObjectId> parameters = store().members(
      named(QOVIXOperation::kClassId, "add"), feature::QOVIXBehavioralFeature_parameter);
  ASSERT_EQ(parameters.size(), 2u);
  EXPECT_EQ(typeName(parameters[0], feature::QOVIXParameter_type), "Line");
  const ObjectId lines = end("contains", "lines");
  EXPECT_EQ(multiplicity(lines, feature::QOVIXAssociationEnd_multiplicity), "0..*");
  EXPECT_EQ(number(lines, feature::QOVIXAssociationEnd_isNavigable), 1);
  EXPECT_EQ(number(lines, feature::QOVIXAssociationEnd_isOrdered), 1);
  EXPECT_EQ(number(end("contains", "order"), feature::QOVIXAssociationEnd_isNavigable), 0);
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), named(QOVIXClass::kClassId, "RushOrder")})
                .allSupertypes()
                .ids(),
            std::vector<ObjectId>{order});
  EXPECT_EQ(store().instancesOf(conformingClasses(QOVIXDependency::kClassId)).size(), 1u);
  named(QOVIXPackage::kClassId, "Orders");
  says(report, {"XMI 2.1, UML 2 (read as UML 1.4), written by Enterprise Architect 6.5",
                "  1 «entity» applied: its profile is not in the document",
                "  1 xmi:Extension (Enterprise Architect): a tool's own data"});
}

TEST_F(Uml2, MagicDrawAndCameoModels) {
  const std::string report = import("uml251_cameo_style.xmi");
  const ObjectId book = named(QOVIXClass::kClassId, "Book");
  EXPECT_EQ(names(store().members(book, feature::QOVIXClassifier_feature)),
            (std::vector<std::string>{"title", "lend"}));
  EXPECT_EQ(
      typeName(named(QOVIXAttribute::kClassId, "title"), feature::QOVIXStructuralFeature_type),
      "String");
  const ObjectId copies = end("has", "copies");
  EXPECT_EQ(typeName(copies, feature::QOVIXAssociationEnd_type), "Copy");
  EXPECT_EQ(multiplicity(copies, feature::QOVIXAssociationEnd_multiplicity), "1..*");
  EXPECT_EQ(number(end("has", "book"), feature::QOVIXAssociationEnd_aggregation), 2);
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), named(QOVIXClass::kClassId, "Student")})
                .allSupertypes()
                .ids(),
            std::vector<ObjectId>{named(QOVIXClass::kClassId, "Member")});
  EXPECT_EQ(store().members(book, feature::QOVIXClassifier_specification),
            std::vector<ObjectId>{named(QOVIXInterface::kClassId, "Screen")});
  named(QOVIXActor::kClassId, "Librarian");
  named(QOVIXUseCase::kClassId, "Check membership");
  says(report, {"XMI 2.5.1, UML 2 (read as UML 1.4), written by MagicDraw Clean XMI Exporter 2021x",
                "  1 uml:Include: UML 1.1 has no counterpart"});
}

TEST_F(Uml2, ModelioStarUmlAndVisualParadigmModels) {
  const std::string report = import("uml21_modelio_style.xmi");
  const ObjectId integer = named(QOVIXDataType::kClassId, "integer");
  const std::vector<ObjectId> returned = store().members(named(QOVIXOperation::kClassId, "tick"),
                                                         feature::QOVIXBehavioralFeature_parameter);
  ASSERT_EQ(returned.size(), 1u);
  EXPECT_EQ(store().reference(returned[0], feature::QOVIXParameter_type), integer);
  const ObjectId light = named(QOVIXClass::kClassId, "Light");
  EXPECT_EQ(number(named(QOVIXAttribute::kClassId, "period"), feature::QOVIXFeature_ownerScope),
            1);  // classifier
  EXPECT_EQ(store().members(light, feature::QOVIXClassifier_specification),
            std::vector<ObjectId>{named(QOVIXInterface::kClassId, "Timed")});
  // Two regions of a state: one concurrent composite state of their states.
  const ObjectId on = named(QOVIXCompositeState::kClassId, "On");
  EXPECT_EQ(number(on, feature::QOVIXCompositeState_isConcurrent), 1);
  EXPECT_EQ(names(store().members(on, feature::QOVIXCompositeState_substate)),
            (std::vector<std::string>{"Red", "Green", "Blink"}));
  EXPECT_EQ(store()
                .members(named(QOVIXStateMachine::kClassId, "cycle"),
                         feature::QOVIXStateMachine_transitions)
                .size(),
            2u);
  const ObjectId lights = end("", "lights");
  EXPECT_EQ(multiplicity(lights, feature::QOVIXAssociationEnd_multiplicity), "2..4");
  EXPECT_EQ(number(end("", "junction"), feature::QOVIXAssociationEnd_aggregation), 1);
  says(report, {"XMI 2.4.1, UML 2 (read as UML 1.4)", "  1 PrimitiveType: read as a DataType",
                "  3 Region: flattened into the state that holds it"});
}

// A document of loose elements, no model around them: a package named after
// the document holds them, their relations included.
// XMI 2.0 as EMF writes it names each metaclass in xsi:type.
TEST_F(Uml2, MetaclassesNamedByXsiTypeAreRead) {
  const std::string report = import("uml20_emf_xsi_style.uml");
  const ObjectId order = named(QOVIXClass::kClassId, "Order");
  EXPECT_EQ(names(store().members(order, feature::QOVIXClassifier_feature)),
            (std::vector<std::string>{"total", "place"}));
  EXPECT_EQ(number(named(QOVIXAttribute::kClassId, "total"), feature::QOVIXFeature_visibility), 2);
  EXPECT_EQ(
      number(named(QOVIXClass::kClassId, "Item"), feature::QOVIXGeneralizableElement_isAbstract),
      1);
  named(QOVIXInterface::kClassId, "Priced");
  const std::vector<ObjectId> literals = store().members(named(QOVIXEnumeration::kClassId, "State"),
                                                         feature::QOVIXEnumeration_literal);
  ASSERT_EQ(literals.size(), 1u);
  EXPECT_EQ(text(literals.front(), feature::QOVIXEnumerationLiteral_name), "open");
  const ObjectId invoice = named(QOVIXClass::kClassId, "Invoice");
  const std::vector<ObjectId> billing = store().members(named(QOVIXPackage::kClassId, "Billing"),
                                                        feature::QOVIXNamespace_ownedElement);
  EXPECT_NE(std::find(billing.begin(), billing.end(), invoice), billing.end()) << report;
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), invoice}).allSupertypes().ids(),
            std::vector<ObjectId>{order});
  says(report, {"skipped nothing"});
}

// UML 2's kinds of node and its artifacts are UML 1.x's nodes and
// components, and the report says each was read so.
TEST_F(Uml2, DevicesEnvironmentsAndArtifactsAreReadAsNodesAndComponents) {
  std::ofstream(folder / "deployment.xmi")
      << "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
         "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\">"
         "<uml:Package xmi:id=\"p\" name=\"Deployment\">"
         "<packagedElement xmi:type=\"uml:Device\" xmi:id=\"d\" name=\"Server\"/>"
         "<packagedElement xmi:type=\"uml:ExecutionEnvironment\" xmi:id=\"e\" name=\"Tomcat\"/>"
         "<packagedElement xmi:type=\"uml:Artifact\" xmi:id=\"a\" name=\"shop.war\"/>"
         "</uml:Package></xmi:XMI>";
  const std::string report =
      reportOf(anchor.internalize(kXmi, QOVIXString(u"deployment.xmi")));
  named(QOVIXNode::kClassId, "Server");
  named(QOVIXNode::kClassId, "Tomcat");
  named(QOVIXComponent::kClassId, "shop.war");
  says(report, {"  2 Node", "  1 Component", "Device", "ExecutionEnvironment", "Artifact",
                "read as a Node", "read as a Component", "skipped nothing"});
}

// Comments a UML 2 tool gives any element go to the namespace around it,
// as UML 1.x owns comments; an attribute without an id is read, though an
// association names an end the document lacks.
TEST_F(Uml2, CommentsOnAnyElementAndAttributesWithoutIdsAreKept) {
  std::ofstream(folder / "notes.uml")
      << "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
         "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\"><uml:Model xmi:id=\"m\" name=\"M\">"
         "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"c\" name=\"C\">"
         "<ownedComment xmi:id=\"k0\" body=\"class\"/>"
         "<ownedAttribute xmi:id=\"\" name=\"kept\"><ownedComment body=\"attribute\"/>"
         "</ownedAttribute>"
         "<ownedOperation xmi:id=\"o\" name=\"o\"><ownedComment><body>operation</body>"
         "</ownedComment><ownedParameter xmi:id=\"p\" name=\"p\">"
         "<ownedComment body=\"parameter\"/></ownedParameter></ownedOperation>"
         "</packagedElement>"
         "<packagedElement xmi:type=\"uml:Enumeration\" xmi:id=\"e\" name=\"E\">"
         "<ownedLiteral xmi:id=\"l\" name=\"x\"><ownedComment body=\"literal\"/></ownedLiteral>"
         "</packagedElement>"
         "<packagedElement xmi:type=\"uml:Association\" xmi:id=\"a\" name=\"A\" "
         "memberEnd=\"gone a.end\"><ownedComment body=\"association\"/>"
         "<ownedEnd xmi:id=\"a.end\" name=\"end\" type=\"c\"><ownedComment body=\"end\"/>"
         "</ownedEnd></packagedElement></uml:Model></xmi:XMI>";
  const QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"notes.uml"));
  const std::string report = reportOf(read);
  const ObjectId c = named(QOVIXClass::kClassId, "C");
  EXPECT_EQ(names(store().members(c, feature::QOVIXClassifier_feature)),
            (std::vector<std::string>{"kept", "o"}));
  const auto commentsIn = [&](ObjectId id) {
    std::vector<std::string> found;
    for (ObjectId each : store().members(id, feature::QOVIXNamespace_ownedElement)) {
      if (store().classOf(each) == QOVIXComment::kClassId)
        found.push_back(text(each, feature::name));
    }
    return found;
  };
  EXPECT_EQ(commentsIn(c),
            (std::vector<std::string>{"class", "attribute", "operation", "parameter"}));
  EXPECT_EQ(commentsIn(named(QOVIXEnumeration::kClassId, "E")),
            std::vector<std::string>{"literal"});
  EXPECT_EQ(commentsIn(read.objectId()), (std::vector<std::string>{"association", "end"}));
  says(report, {"  2 Comment owned by a Property: placed in the namespace around it",
                "  1 Comment owned by a Parameter", "  1 Comment owned by an EnumerationLiteral",
                "  1 Association.memberEnd 'gone': names no element of the document"});
  EXPECT_EQ(report.find("ownedComment"), std::string::npos) << report;
}

// Two elements under one id are two elements; a reference to the id names
// the first, by position.
TEST_F(Uml2, AnElementUnderAnIdInUseIsKeptAndReferencesNameTheFirst) {
  std::ofstream(folder / "twice.uml")
      << "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
         "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\"><uml:Model xmi:id=\"m\" name=\"M\">"
         "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"c\" name=\"First\"/>"
         "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"c\" name=\"Second\">"
         "<ownedAttribute xmi:id=\"a\" name=\"a\" type=\"c\"/></packagedElement>"
         "</uml:Model></xmi:XMI>";
  const std::string report = reportOf(anchor.internalize(kXmi, QOVIXString(u"twice.uml")));
  named(QOVIXClass::kClassId, "Second");
  EXPECT_EQ(store().reference(named(QOVIXAttribute::kClassId, "a"),
                              feature::QOVIXStructuralFeature_type),
            named(QOVIXClass::kClassId, "First"));
  says(report, {"  1 Class under an xmi:id in use: read as an element of its own"});
}

// States as tools write them in regions under ownedMember, and a region of
// a state under region: each vertex by its kind, whatever holds it.
TEST_F(Uml2, StatesInRegionsAreReadWhateverPropertyHoldsThem) {
  std::ofstream(folder / "door.uml")
      << "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
         "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\"><uml:Model xmi:id=\"m\" name=\"M\">"
         "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"c\" name=\"Door\">"
         "<ownedMember xmi:type=\"uml:StateMachine\" xmi:id=\"sm\" name=\"life\">"
         "<ownedMember xmi:type=\"uml:Region\" xmi:id=\"r\">"
         "<ownedMember xmi:type=\"uml:Pseudostate\" xmi:id=\"i\" kind=\"initial\"/>"
         "<ownedMember xmi:type=\"uml:State\" xmi:id=\"s1\" name=\"Open\"/>"
         "<ownedMember xmi:type=\"uml:State\" xmi:id=\"s2\" name=\"Shut\"><region xmi:id=\"r2\">"
         "<subvertex xmi:type=\"uml:State\" xmi:id=\"s3\" name=\"Locked\"/></region></ownedMember>"
         "<ownedMember xmi:type=\"uml:Transition\" xmi:id=\"t\" source=\"s1\" target=\"s2\"/>"
         "</ownedMember></ownedMember></packagedElement></uml:Model></xmi:XMI>";
  anchor.internalize(kXmi, QOVIXString(u"door.uml"));
  const ObjectId machine = named(QOVIXStateMachine::kClassId, "life");
  EXPECT_EQ(store().reference(machine, feature::QOVIXStateMachine_context),
            named(QOVIXClass::kClassId, "Door"));
  const ObjectId top = store().reference(machine, feature::QOVIXStateMachine_top);
  ASSERT_NE(top, 0u);
  EXPECT_EQ(store().members(top, feature::QOVIXCompositeState_substate).size(), 3u);
  const ObjectId shut = named(QOVIXCompositeState::kClassId, "Shut");
  EXPECT_EQ(names(store().members(shut, feature::QOVIXCompositeState_substate)),
            std::vector<std::string>{"Locked"});
  const std::vector<ObjectId> transitions =
      store().members(machine, feature::QOVIXStateMachine_transitions);
  ASSERT_EQ(transitions.size(), 1u);
  EXPECT_EQ(store().reference(transitions.front(), feature::QOVIXTransition_source),
            named(QOVIXSimpleState::kClassId, "Open"));
  EXPECT_EQ(store().reference(transitions.front(), feature::QOVIXTransition_target), shut);
}

TEST_F(Uml2, LooseElementsGoIntoAPackageOfTheirOwn) {
  std::ofstream(folder / "loose.xmi")
      << "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
         "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\">"
         "<uml:Class xmi:id=\"a\" name=\"A\"/>"
         "<uml:Class xmi:id=\"b\" name=\"B\"><generalization xmi:id=\"g\" general=\"a\"/>"
         "</uml:Class></xmi:XMI>";
  const QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"loose.xmi"));
  EXPECT_EQ(text(read.objectId(), feature::name), "loose");
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), named(QOVIXClass::kClassId, "B")})
                .allSupertypes()
                .ids(),
            std::vector<ObjectId>{named(QOVIXClass::kClassId, "A")});
}

TEST_F(Uml2, AnElementUnderItsOwnersIdIsNotImportedInsideIt) {
  std::ofstream(folder / "again.uml")
      << "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
         "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\">"
         "<uml:Model xmi:id=\"m\" name=\"M\">"
         "<packagedElement xmi:type=\"uml:Package\" xmi:id=\"m\" name=\"Again\"/>"
         "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"c\" name=\"C\"/>"
         "</uml:Model></xmi:XMI>";
  anchor.internalize(kXmi, QOVIXString(u"again.uml"));
  const ObjectId model = named(QOVIXModel::kClassId, "M");
  const auto owned = store().members(model, feature::QOVIXNamespace_ownedElement);
  EXPECT_EQ(std::count(owned.begin(), owned.end(), model), 0) << "the model inside itself";
  EXPECT_EQ(std::count(owned.begin(), owned.end(), named(QOVIXClass::kClassId, "C")), 1);
  EXPECT_EQ(QOVIXModelElement(ObjectRef{&store(), model}).checkWellFormedness().number(), 1);
}

// A stereotype application is read once, whatever its shape: one that names
// many elements at once gives its tagged values to one element, not to each
// (which grew as elements times tags), and says so.
TEST_F(Uml2, AStereotypeApplicationIsReadOnceWhateverItNames) {
  constexpr int kElements = 300;
  std::ostringstream document;
  document << "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
              "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\" xmlns:P=\"http:///P\">"
              "<uml:Model xmi:id=\"m\" name=\"M\">"
              "<packagedElement xmi:type=\"uml:Profile\" xmi:id=\"p\" name=\"P\">"
              "<packagedElement xmi:type=\"uml:Stereotype\" xmi:id=\"s\" name=\"Entity\"/>"
              "</packagedElement>";
  for (int i = 0; i < kElements; ++i) {
    document << "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"c" << i << "\" name=\"C" << i
             << "\"/>";
  }
  document << "</uml:Model><P:Entity xmi:id=\"once\" base_Class=\"c0\" base_Element=\"c0\" "
              "table=\"T\"/><P:Entity xmi:id=\"many\"";
  for (int i = 1; i < kElements; ++i) document << " base_E" << i << "=\"c" << i << "\"";
  for (int i = 0; i < kElements; ++i) document << " tag" << i << "=\"v\"";
  document << "/></xmi:XMI>";
  std::ofstream(folder / "many.xmi") << document.str();
  const QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"many.xmi"));
  const std::string report =
      text(QOVIXModelElement::cast(read, 1).getTaggedValue(QOVIXName(u"qovix.import")).objectId(),
           feature::QOVIXTaggedValue_umlValue);
  says(report, {"«Entity» applied to several elements at once"});
  const auto tags = store().instancesOf(conformingClasses(QOVIXTaggedValue::kClassId));
  EXPECT_LE(tags.size(), static_cast<std::size_t>(kElements + 10)) << report;
  std::size_t onFirst = 0;
  for (ObjectId tag : tags) onFirst += text(tag, feature::QOVIXTaggedValue_tag) == "table";
  EXPECT_EQ(onFirst, 1u) << "two base_ attributes naming one element apply it once";
}

// The UML 2.5.1 metamodel's metaclasses with their properties, from the
// list taken from the published metamodel.
std::map<std::string, std::set<std::string>> metamodel() {
  std::ifstream list(std::string(QOVIX_XMI_SAMPLES) + "/uml25_metamodel_names.txt");
  std::map<std::string, std::set<std::string>> classes;
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    auto& properties = classes[line.substr(0, line.find(':'))];
    for (std::string word; words >> word;) properties.insert(word);
  }
  return classes;
}

std::string attributeOf(xmlNode* node, const char* name, const char* space = nullptr) {
  xmlChar* value = space ? xmlGetNsProp(node, reinterpret_cast<const xmlChar*>(name),
                                        reinterpret_cast<const xmlChar*>(space))
                         : xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
  std::string text = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return text;
}

// Checks an export's structure: each element's metaclass is UML 2.5.1's,
// each property and attribute one its metaclass has, each xmi:id unique,
// and each reference names an element of the document.
void checkStructure(const std::string& document) {
  static const char* kXmiSpace = "http://www.omg.org/spec/XMI/20131001";
  const auto classes = metamodel();
  ASSERT_GT(classes.size(), 150u);
  std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> parsed(
      xmlReadMemory(document.data(), static_cast<int>(document.size()), "export.xmi", nullptr,
                    XML_PARSE_NONET),
      xmlFreeDoc);
  ASSERT_TRUE(parsed);
  xmlNode* root = xmlDocGetRootElement(parsed.get());
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(root->name)), "XMI");
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(root->ns->href)), kXmiSpace);
  std::set<std::string> ids;
  std::vector<std::string> references;
  std::function<void(xmlNode*, const std::string&)> walk = [&](xmlNode* node,
                                                               const std::string& metaclass) {
    for (xmlAttr* each = node->properties; each; each = each->next) {
      const std::string name = reinterpret_cast<const char*>(each->name);
      const std::string value = attributeOf(node, name.c_str(), each->ns ? kXmiSpace : nullptr);
      if (each->ns) {
        if (name == "id") {
          EXPECT_TRUE(ids.insert(value).second) << "xmi:id " << value << " twice";
        }
        continue;
      }
      EXPECT_EQ(classes.at(metaclass).count(name), 1u) << metaclass << " has no " << name;
      for (const char* refers :
           {"type", "general", "client", "supplier", "contract", "implementingClassifier",
            "memberEnd", "navigableOwnedEnd", "association", "source", "target", "submachine"}) {
        if (name != refers) continue;
        std::istringstream words(value);
        for (std::string id; words >> id;) references.push_back(id);
      }
    }
    for (xmlNode* child = node->children; child; child = child->next) {
      if (child->type != XML_ELEMENT_NODE) continue;
      const std::string name = reinterpret_cast<const char*>(child->name);
      if (name == "Documentation" || name == "body") continue;  // body: an expression's text
      const std::string type = attributeOf(child, "type", kXmiSpace);
      ASSERT_EQ(type.rfind("uml:", 0), 0u) << name << " has no xmi:type";
      const std::string kind = type.substr(4);
      ASSERT_EQ(classes.count(kind), 1u) << kind << " is no UML 2.5.1 metaclass";
      if (!metaclass.empty()) {
        EXPECT_EQ(classes.at(metaclass).count(name), 1u) << metaclass << " has no " << name;
      }
      walk(child, kind);
    }
  };
  walk(root, "");
  for (const std::string& id : references) {
    EXPECT_EQ(ids.count(id), 1u) << "a reference to " << id << ", which no element is";
  }
}

// What a model is in the class-model subset: each element's class and name.
std::multiset<std::string> subsetOf(PersistentStore& store) {
  std::multiset<std::string> found;
  for (ClassId classId :
       {QOVIXPackage::kClassId, QOVIXClass::kClassId, QOVIXInterface::kClassId,
        QOVIXDataType::kClassId, QOVIXAttribute::kClassId, QOVIXOperation::kClassId,
        QOVIXParameter::kClassId, QOVIXAssociation::kClassId, QOVIXAssociationEnd::kClassId,
        QOVIXGeneralization::kClassId, QOVIXDependency::kClassId, QOVIXUseCase::kClassId,
        QOVIXActor::kClassId, QOVIXComment::kClassId, QOVIXEnumerationLiteral::kClassId,
        QOVIXComponent::kClassId, QOVIXNode::kClassId, QOVIXSignal::kClassId,
        QOVIXStereotype::kClassId, QOVIXStateMachine::kClassId, QOVIXSimpleState::kClassId,
        QOVIXCompositeState::kClassId, QOVIXPseudostate::kClassId, QOVIXTransition::kClassId}) {
    for (ObjectId id : store.instancesOf(conformingClasses(classId))) {
      const auto name = store.value(id, classId == QOVIXEnumerationLiteral::kClassId
                                            ? feature::QOVIXEnumerationLiteral_name
                                            : feature::name);
      found.insert(std::string(classInfo(classId).name) + " " +
                   (name ? utf::toUtf8(name->text) : std::string()));
    }
  }
  // And the relations between them: generalizations and realizations.
  const auto nameOf = [&](ObjectId id) {
    const auto name = store.value(id, feature::name);
    return name ? utf::toUtf8(name->text) : std::string();
  };
  for (ObjectId id : store.instancesOf(conformingClasses(QOVIXClassifier::kClassId))) {
    for (ObjectId general : store.members(id, feature::QOVIXGeneralizableElement_generalization)) {
      found.insert(nameOf(id) + " specializes " +
                   nameOf(store.reference(general, feature::QOVIXGeneralization_supertype)));
    }
    for (ObjectId realized : store.members(id, feature::QOVIXClassifier_specification)) {
      found.insert(nameOf(id) + " realizes " + nameOf(realized));
    }
  }
  return found;
}

// Every sample, UML 1.x's and UML 2's, written as UML 2.5.1 and read back:
// the same elements of every class the format carries, and a report that
// names what it could not write.
TEST_F(Uml2, ExportsAreUml251ThatReadsBackWhole) {
  std::map<std::string, std::string> reports;
  for (const auto& entry : std::filesystem::directory_iterator(QOVIX_XMI_SAMPLES)) {
    if (entry.path().extension() != ".xmi" && entry.path().extension() != ".uml") continue;
    const std::string name = entry.path().filename().string();
    const char* sample = name.c_str();
    SCOPED_TRACE(sample);
    VORN first{"first"};
    VORN second{"second"};
    for (VORN* each : {&first, &second}) each->store().settings().documentFolder = folder;
    std::filesystem::copy_file(std::filesystem::path(QOVIX_XMI_SAMPLES) / sample, folder / sample,
                               std::filesystem::copy_options::overwrite_existing);
    QOVIXPackage read =
        QOVIXPackage(first).internalize(kXmi, QOVIXString(utf::toUtf16(std::string(sample))));
    const model::WrittenDocument exported = model::writePackageDocument(
        first.store(), read.objectId(), "xmi 2.5", "out.xmi");
    reports[name] = exported.report;
    std::ifstream written(folder / "out.xmi", std::ios::binary);
    const std::string document(std::istreambuf_iterator<char>(written), {});
    checkStructure(document);
    QOVIXPackage(second).internalize(kXmi, QOVIXString(u"out.xmi"));
    std::multiset<std::string> before = subsetOf(first.store());
    std::multiset<std::string> after = subsetOf(second.store());
    EXPECT_EQ(after, before);
  }
  ASSERT_EQ(reports.size(), 11u);
  says(reports["uml13_xmi11_rose_style.xmi"],
       {"XMI 2.5.1, UML 2.5.1\nwrote ", "  1 StateMachine\n", "  1 Pseudostate\n",
        "  1 FinalState\n",
        "  1 Collaboration: collaborations and interactions are not written in XMI 2.5",
        "  1 TaggedValue: UML 2 holds tagged values in stereotype applications"});
  says(reports["uml14_xmi12_nested_literals_style.xmi"],
       {"  1 UninterpretedAction: a UML 2 behavior, event or constraint"});
}

// Components, nodes and stereotypes are written with what they own, and
// a class's comments; a reference to what XMI 2.5 cannot carry (a
// collaboration) is left out and reported, never left dangling.
TEST_F(Uml2, AnExportWritesComponentsNodesAndCommentsAndNoReferenceDangles) {
  PersistentStore& model = store();
  const auto make = [&](ClassId classId, ObjectId owner, const char16_t* name) {
    const ObjectId made = model.create(classId);
    model.setValue(made, feature::name, StoredValue{QOVIXName::kValueClassId, 0, name});
    if (owner != 0) {
      model.appendMember(owner, feature::QOVIXNamespace_ownedElement, made);
      model.appendMember(made, feature::QOVIXModelElement_namespace1, owner);
    }
    return made;
  };
  const ObjectId root = make(QOVIXModel::kClassId, 0, u"Deployed");
  const ObjectId server = make(QOVIXNode::kClassId, root, u"Server");
  const ObjectId shop = make(QOVIXComponent::kClassId, root, u"Shop");
  make(QOVIXComment::kClassId, shop, u"the web shop");
  make(QOVIXStereotype::kClassId, root, u"service");
  const ObjectId host = model.create(QOVIXAttribute::kClassId);
  model.setValue(host, feature::name, StoredValue{QOVIXName::kValueClassId, 0, u"host"});
  model.appendMember(shop, feature::QOVIXClassifier_feature, host);
  model.setReference(host, feature::QOVIXStructuralFeature_type, server);
  const ObjectId checkout = make(QOVIXCollaboration::kClassId, root, u"Checkout");
  const ObjectId uses = make(QOVIXDependency::kClassId, root, u"uses");
  model.appendMember(uses, feature::QOVIXDependency_client, shop);
  model.appendMember(uses, feature::QOVIXDependency_supplier, checkout);
  const model::WrittenDocument exported =
      model::writePackageDocument(model, root, "xmi 2.5", "deployed.xmi");
  std::ifstream written(folder / "deployed.xmi", std::ios::binary);
  checkStructure(std::string(std::istreambuf_iterator<char>(written), {}));
  says(exported.report,
       {"  1 Component\n", "  1 Node\n", "  1 Stereotype\n", "  1 Comment\n",
        "  1 Collaboration: collaborations and interactions are not written",
        "  1 reference Dependency.supplier: names an element the export does not write"});
  VORN again{"again"};
  again.store().settings().documentFolder = folder;
  QOVIXPackage(again).internalize(kXmi, QOVIXString(u"deployed.xmi"));
  PersistentStore& read = again.store();
  const auto only = [&](ClassId classId) {
    const std::vector<ObjectId> found = read.instancesOf(std::vector<ClassId>{classId});
    EXPECT_EQ(found.size(), 1u) << classInfo(classId).name;
    return found.empty() ? ObjectId{0} : found.front();
  };
  const ObjectId shopAgain = only(QOVIXComponent::kClassId);
  const std::vector<ObjectId> features =
      read.members(shopAgain, feature::QOVIXClassifier_feature);
  ASSERT_EQ(features.size(), 1u);
  EXPECT_EQ(read.reference(features.front(), feature::QOVIXStructuralFeature_type),
            only(QOVIXNode::kClassId));
  const std::vector<ObjectId> owned = read.members(shopAgain, feature::QOVIXNamespace_ownedElement);
  ASSERT_EQ(owned.size(), 1u);
  EXPECT_EQ(read.classOf(owned.front()), QOVIXComment::kClassId);
  only(QOVIXStereotype::kClassId);
}

// States that hold each other in a circle, or nest deeper than any reader
// takes, are written once each, or refused with why: the walk neither loops
// nor runs out of stack.
TEST_F(Uml2, AnExportOfStatesInACircleOrNestedTooDeepEnds) {
  PersistentStore& model = store();
  const ObjectId root = model.create(QOVIXModel::kClassId);
  const ObjectId machine = model.create(QOVIXStateMachine::kClassId);
  model.appendMember(root, feature::QOVIXNamespace_ownedElement, machine);
  ObjectId top = model.create(QOVIXCompositeState::kClassId);
  model.setReference(machine, feature::QOVIXStateMachine_top, top);
  const ObjectId inner = model.create(QOVIXCompositeState::kClassId);
  model.appendMember(top, feature::QOVIXCompositeState_substate, inner);
  model.appendMember(inner, feature::QOVIXCompositeState_substate, top);
  const model::WrittenDocument circle =
      model::writePackageDocument(model, root, "xmi 2.5", "circle.xmi");
  EXPECT_NE(circle.report.find("  1 State\n"), std::string::npos) << circle.report;
  std::ifstream written(folder / "circle.xmi", std::ios::binary);
  checkStructure(std::string(std::istreambuf_iterator<char>(written), {}));  // ids once each
  for (int i = 0; i < 10000; ++i) {
    const ObjectId deeper = model.create(QOVIXCompositeState::kClassId);
    model.appendMember(top, feature::QOVIXCompositeState_substate, deeper);
    top = deeper;
  }
  try {
    model::writePackageDocument(model, root, "xmi 2.5", "deep.xmi");
    ADD_FAILURE() << "written";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("nest deeper than"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "deep.xmi"));
}

}  // namespace
