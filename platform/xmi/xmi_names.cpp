#include "platform/xmi/xmi_names.h"

#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "model_classes.h"

namespace model::xmi {
namespace {

// The classes UML 1.3 renamed (UML 1.4 kept the new names).
struct ClassRenaming {
  const char* ours;  // without the QOVIX prefix
  const char* later;
};
constexpr ClassRenaming kClassRenamings[] = {
    {"ElementReference", "ElementImport"},  // UML 1.3, 5.2.2
    {"ActivityModel", "ActivityGraph"},     // UML 1.3, 2.13
    {"ActivityState", "SubactivityState"},  // UML 1.3, 2.13.2
    {"MessageInstance", "Stimulus"},        // UML 1.3, 2.9.2
    {"Refinement", "Abstraction"},          // UML 1.3, 2.5.2.1
};

// Metaclasses of UML 1.3 and 1.4 read as a catalogue class they specialize
// or replace. (Abstraction's stereotypes and FinalState's kind are the
// reader's.)
constexpr ClassRenaming kReadAs[] = {
    {"DataType", "ProgrammingLanguageDataType"},  // UML 1.4
    {"Dependency", "Permission"},                 // UML 1.3: «import», «access», «friend»
    {"Pseudostate", "FinalState"},                // UML 1.3: 1.1's final pseudostate
};

// The UML 1.3 packages of XMI 1.0's element names; Foundation.Core for the rest.
struct PackageMembers {
  const char* path;
  std::initializer_list<const char*> classes;
};
const PackageMembers kPackages[] = {
    {"Foundation.Data_Types",
     {"Multiplicity", "MultiplicityRange", "Enumeration", "EnumerationLiteral", "Primitive",
      "Structure"}},
    {"Foundation.Extension_Mechanisms", {"Stereotype", "TaggedValue"}},
    {"Behavioral_Elements.Common_Behavior",
     {"Request",
      "Signal",
      "Exception",
      "Reception",
      "Action",
      "ActionSequence",
      "CreateAction",
      "DestroyAction",
      "CallAction",
      "SendAction",
      "ReturnAction",
      "TerminateAction",
      "UninterpretedAction",
      "LocalInvocation",
      "Call",
      "Argument",
      "Instance",
      "Object",
      "DataValue",
      "Link",
      "LinkEnd",
      "LinkObject",
      "AttributeLink",
      "MessageInstance"}},
    {"Behavioral_Elements.Collaborations",
     {"Collaboration", "ClassifierRole", "AssociationRole", "AssociationEndRole", "Interaction",
      "Message"}},
    {"Behavioral_Elements.Use_Cases", {"UseCase", "Actor", "UseCaseInstance"}},
    {"Behavioral_Elements.State_Machines",
     {"StateMachine", "State", "CompositeState", "SimpleState", "SubmachineState", "Pseudostate",
      "StateVertex", "Transition", "Guard", "Event", "CallEvent", "SignalEvent", "TimeEvent",
      "ChangeEvent"}},
    {"Behavioral_Elements.Activity_Graphs",
     {"ActivityModel", "Partition", "ActionState", "ObjectFlowState", "ClassifierInState",
      "ActivityState"}},
    {"Model_Management", {"Package", "Model", "Subsystem", "ElementReference"}},
};

// A feature UML 1.3 or 1.4 has under another name. `uml13` is empty when
// 1.3 has the 1.4 name.
struct FeatureRenaming {
  const char* ours;  // OWNER.NAME, the owner without the QOVIX prefix
  const char* uml14;
  const char* uml13;
};
constexpr FeatureRenaming kFeatureRenamings[] = {
    {"*.name", "ModelElement.name", ""},
    // A feature's and an import's own visibility before any element's.
    {"Feature.visibility", "ModelElement.visibility", ""},
    {"ElementReference.visibility", "ElementImport.visibility", ""},
    {"ModelElement.elemOwnershipVisibility", "ModelElement.visibility", ""},
    {"ModelElement.namespace1", "ModelElement.namespace", ""},
    {"ModelElement.requirement", "ModelElement.clientDependency", ""},
    {"ModelElement.provision", "ModelElement.supplierDependency", ""},
    {"ModelElement.packageReference", "ModelElement.elementImport", ""},
    {"Package.modelElementReference", "Package.elementImport", ""},
    {"Feature.UMLowner", "Feature.owner", ""},
    {"StructuralFeature.changeable", "StructuralFeature.changeability", ""},
    {"AssociationEnd.changeable", "AssociationEnd.changeability", ""},
    {"AssociationEnd.isOrdered", "AssociationEnd.ordering", ""},
    {"AssociationEnd.type", "AssociationEnd.participant", "AssociationEnd.type"},
    {"Generalization.subtype", "Generalization.child", ""},
    {"Generalization.supertype", "Generalization.parent", ""},
    {"TaggedValue.umlValue", "TaggedValue.dataValue", "TaggedValue.value"},
    {"Multiplicity.ranges", "Multiplicity.range", ""},
    {"Link.linkRole", "Link.connection", ""},
    {"CompositeState.substate", "CompositeState.subvertex", ""},
    {"StateVertex.parent", "StateVertex.container", ""},
    {"TimeEvent.duration", "TimeEvent.when", ""},
    {"Event.parameters", "Event.parameter", ""},
    {"ActivityModel.partition", "ActivityGraph.partition", ""},
    {"Partition.activityModel", "Partition.activityGraph", ""},
    {"ObjectFlowState.typeState", "ObjectFlowState.type", ""},
    {"Refinement.mapping", "Abstraction.mapping", ""},
};

// Features UML 1.3 and 1.4 have under the catalogue's name (OWNER.NAME).
constexpr const char* kSameNamed[] = {
    "TaggedValue.tag",
    "TaggedValue.modelElement",
    "TaggedValue.stereotype",
    "ModelElement.taggedValue",
    "ModelElement.constraint",
    "ModelElement.stereotype",
    "ModelElement.behavior",
    "Stereotype.icon",
    "Stereotype.baseClass",
    "Stereotype.requiredTag",
    "Stereotype.extendedElement",
    "Stereotype.stereotypeConstraint",
    "GeneralizableElement.isRoot",
    "GeneralizableElement.isLeaf",
    "GeneralizableElement.isAbstract",
    "GeneralizableElement.generalization",
    "GeneralizableElement.specialization",
    "Constraint.body",
    "Constraint.constrainedElement",
    "Constraint.constrainedStereotype",
    "Namespace.ownedElement",
    "Action.recurrence",
    "Action.target",
    "Action.isAsynchronous",
    "Action.script",
    "Action.actionSequence",
    "Action.actualArgument",
    "MessageInstance.receiver",
    "MessageInstance.argument",
    "MessageInstance.sender",
    "Parameter.defaultValue",
    "Parameter.kind",
    "Parameter.type",
    "Parameter.behavioralFeature",
    "Classifier.feature",
    "Feature.ownerScope",
    "StructuralFeature.targetScope",
    "StructuralFeature.type",
    "StructuralFeature.multiplicity",
    "AssociationEnd.isNavigable",
    "AssociationEnd.aggregation",
    "AssociationEnd.targetScope",
    "AssociationEnd.association",
    "AssociationEnd.qualifier",
    "AssociationEnd.specification",
    "AssociationEnd.multiplicity",
    "CreateAction.instantiation",
    "Instance.slot",
    "Instance.linkEnd",
    "Instance.classifier",
    "ClassifierInState.inState",
    "ClassifierInState.type",
    "Collaboration.representedOperation",
    "Collaboration.representedClassifier",
    "Collaboration.constrainingElement",
    "Collaboration.interaction",
    "ClassifierRole.base",
    "ClassifierRole.availableFeature",
    "ClassifierRole.multiplicity",
    "Operation.specification",
    "Operation.isPolymorphic",
    "Operation.concurrency",
    "Operation.method",
    "Method.body",
    "Method.specification",
    "Attribute.initialValue",
    "Attribute.associationEnd",
    "Association.connection",
    "Class.isActive",
    "Enumeration.literal",
    "EnumerationLiteral.name",
    "EnumerationLiteral.enumeration",
    "MultiplicityRange.lower",
    "MultiplicityRange.upper",
    "MultiplicityRange.multiplicity",
    "LinkEnd.link",
    "LinkEnd.instance",
    "LinkEnd.associationEnd",
    "AssociationEndRole.base",
    "AssociationRole.base",
    "AssociationRole.multiplicity",
    "Link.association",
    "Generalization.discriminator",
    "AttributeLink.attribute",
    "AttributeLink.value",
    "AttributeLink.instance",
    "BehavioralFeature.isQuery",
    "BehavioralFeature.parameter",
    "CallEvent.operation",
    "Signal.reception",
    "Dependency.supplier",
    "Dependency.client",
    "ElementReference.alias",
    "ElementReference.package",
    "ElementReference.modelElement",
    "Binding.argument",
    "StateMachine.context",
    "StateMachine.top",
    "StateMachine.transitions",
    "StateMachine.submachineState",
    "Subsystem.isInstantiable",
    "UseCase.extensionPoint",
    "Reception.isPolymorphic",
    "Reception.specification",
    "Reception.signal",
    "SignalEvent.signal",
    "ActionSequence.action",
    "Argument.value",
    "Message.action",
    "Message.activator",
    "Message.predecessor",
    "Message.interaction",
    "Message.sender",
    "Message.receiver",
    "State.entry",
    "State.exit",
    "State.deferredEvent",
    "State.internalTransition",
    "Transition.guard",
    "Transition.effect",
    "Transition.trigger",
    "Transition.stateMachine",
    "Transition.source",
    "Transition.target",
    "Interaction.context",
    "Interaction.message",
    "SubmachineState.submachine",
    "StateVertex.outgoing",
    "StateVertex.incoming",
    "Guard.expression",
    "Guard.transition",
    "CompositeState.isConcurrent",
    "ChangeEvent.changeExpression",
    "Pseudostate.kind",
    "Partition.contents",
};

std::string withoutPrefix(const char* name) { return std::string(name).substr(5); }

std::string ownerName(const FeatureInfo& feature) {
  return feature.owner == 0 ? "*" : withoutPrefix(classInfo(feature.owner).name);
}

std::string catalogueName(const FeatureInfo& feature) {
  return ownerName(feature) + "." + feature.name;
}

std::pair<std::string, std::string> split(std::string_view qualified) {
  const std::size_t dot = qualified.rfind('.');
  return {std::string(qualified.substr(0, dot)), std::string(qualified.substr(dot + 1))};
}

// The catalogue's features by OWNER.NAME.
const std::map<std::string, FeatureId>& featuresByName() {
  static const std::map<std::string, FeatureId> byName = [] {
    std::map<std::string, FeatureId> made;
    for (const FeatureInfo& feature : modelFeatures()) made[catalogueName(feature)] = feature.id;
    return made;
  }();
  return byName;
}

FeatureId featureNamed(const std::string& qualified) {
  const auto found = featuresByName().find(qualified);
  if (found == featuresByName().end()) {
    throw std::logic_error("the XMI names name no feature '" + qualified + "'");
  }
  return found->second;
}

// The literals of an enumeration class, from its default value; none for
// other classes.
const std::vector<std::string>& literalsOf(ValueClassId valueClass) {
  static std::map<ValueClassId, std::vector<std::string>> known;
  if (const auto found = known.find(valueClass); found != known.end()) return found->second;
  std::vector<std::string> names;
  if (const ValueClassInfo* info = valueClassInfo(valueClass); info != nullptr) {
    const std::unique_ptr<VornDataType> value(info->makeDefault());
    if (!value) throw std::bad_alloc();
    if (const auto* enumeration = dynamic_cast<const VornEnumeration*>(value.get())) {
      names.assign(enumeration->literals().begin(), enumeration->literals().end());
    }
  }
  return known[valueClass] = std::move(names);
}

// The literal names UML 1.3 and 1.4 write where the catalogue's differ.
std::string laterLiteral(ValueClassId valueClass, const std::string& ours) {
  if (valueClass == QOVIXChangeableKind::kValueClassId && ours == "none") return "changeable";
  return ours;
}

// Every name the tables above give must be the catalogue's: a misspelt one
// stops the first document read or written, naming the entry.
bool checkedTables() {
  const auto known = [](const std::string& name) {
    for (const ClassInfo& info : modelClasses()) {
      if (withoutPrefix(info.name) == name) return;
    }
    throw std::logic_error("the XMI names name no class '" + name + "'");
  };
  for (const ClassRenaming& each : kClassRenamings) known(each.ours);
  for (const ClassRenaming& each : kReadAs) known(each.ours);
  for (const PackageMembers& package : kPackages) {
    for (const char* member : package.classes) known(member);
  }
  for (const FeatureRenaming& each : kFeatureRenamings) featureNamed(each.ours);
  for (const char* each : kSameNamed) featureNamed(each);
  return true;
}

}  // namespace

std::string metaclassName(ClassId classId) {
  const std::string ours = withoutPrefix(classInfo(classId).name);
  for (const ClassRenaming& each : kClassRenamings) {
    if (ours == each.ours) return each.later;
  }
  return ours;
}

std::string packagePath(ClassId classId) {
  const std::string ours = withoutPrefix(classInfo(classId).name);
  for (const PackageMembers& package : kPackages) {
    for (const char* member : package.classes) {
      if (ours == member) return package.path;
    }
  }
  return "Foundation.Core";
}

ClassId classForMetaclass(std::string_view name) {
  static const std::map<std::string, ClassId, std::less<>> byName = [] {
    std::map<std::string, ClassId, std::less<>> made;
    for (const ClassInfo& info : modelClasses()) {
      made[withoutPrefix(info.name)] = info.id;
      made[metaclassName(info.id)] = info.id;
    }
    for (const ClassRenaming& each : kReadAs) made[each.later] = made.at(each.ours);
    return made;
  }();
  const auto found = byName.find(name);
  return found == byName.end() ? 0 : found->second;
}

PropertyName propertyName(const FeatureInfo& feature, ClassId objectClass, Uml uml) {
  static const bool checked = checkedTables();
  (void)checked;
  const std::string ours = catalogueName(feature);
  // Only model elements have a name in UML 1.3 and 1.4: the slot every
  // object has is the extension's for the others.
  if (feature.owner == 0 && !conformsTo(objectClass, QOVIXModelElement::kClassId)) {
    return {"Element", feature.name, false};
  }
  for (const FeatureRenaming& each : kFeatureRenamings) {
    if (ours != each.ours) continue;
    // A feature's visibility is the feature's own: its ownership's goes to
    // the extension, since later versions have only one.
    if (ours == "ModelElement.elemOwnershipVisibility" &&
        conformsTo(objectClass, QOVIXFeature::kClassId)) {
      break;
    }
    auto [owner, name] = split(uml == Uml::V13 && *each.uml13 != '\0' ? each.uml13 : each.uml14);
    return {owner, name, true};
  }
  bool standard = false;
  for (const char* each : kSameNamed) standard = standard || ours == each;
  return {metaclassName(feature.owner), feature.name, standard};
}

namespace {

// Properties read as another feature than their name says.
struct ReadAs {
  const char* written;  // METACLASS.NAME as a document writes it
  const char* ours;
};
constexpr ReadAs kReadAsFeature[] = {
    {"Comment.body", "*.name"},  // UML 1.4: a comment's text; UML 1.1's comment is its name
};

// Whether a renaming written `written` (METACLASS.NAME) applies to an
// object of `objectClass` read as the feature `ours`.
bool applies(ClassId objectClass, const std::string& written, const char* ours) {
  const ClassId writtenOwner = classForMetaclass(split(written).first);
  const FeatureInfo& target = featureInfo(featureNamed(ours));
  return (writtenOwner == 0 || conformsTo(objectClass, writtenOwner)) &&
         (target.owner == 0 || conformsTo(objectClass, target.owner));
}

FeatureId declaredFeature(ClassId objectClass, std::string_view name) {
  for (const FeatureInfo& feature : modelFeatures()) {
    if (feature.owner != 0 && feature.name == name && conformsTo(objectClass, feature.owner)) {
      return feature.id;
    }
  }
  return 0;
}

}  // namespace

FeatureId featureForProperty(ClassId objectClass, std::string_view owner, std::string_view name) {
  static const bool checked = checkedTables();
  (void)checked;
  const std::string qualified = std::string(owner).append(".").append(name);
  auto renamed = [&](bool byName) -> FeatureId {
    for (const ReadAs& each : kReadAsFeature) {
      const bool matches = byName ? split(each.written).second == name : qualified == each.written;
      if (matches && applies(objectClass, each.written, each.ours)) return featureNamed(each.ours);
    }
    for (const FeatureRenaming& each : kFeatureRenamings) {
      for (const char* written : {each.uml14, each.uml13}) {
        if (*written == '\0') continue;
        const bool matches = byName ? split(written).second == name : qualified == written;
        if (matches && applies(objectClass, written, each.ours)) return featureNamed(each.ours);
      }
    }
    return 0;
  };
  if (!owner.empty()) {
    if (const FeatureId found = renamed(false)) return found;
    // The catalogue's own names, as the QOVIX extension writes them.
    const ClassId ownerClass =
        owner == "Element" ? QOVIXElement::kClassId : classForMetaclass(owner);
    if (ownerClass != 0 && conformsTo(objectClass, ownerClass)) {
      for (const FeatureInfo& feature : modelFeatures()) {
        const bool owned = feature.owner == 0 ? owner == "Element" : feature.owner == ownerClass;
        if (owned && feature.name == name) return feature.id;
      }
    }
  }
  if (const FeatureId declared = declaredFeature(objectClass, name)) return declared;
  if (const FeatureId found = renamed(true)) return found;
  return attributeNamed(objectClass, name);
}

bool hasLiterals(ValueClassId valueClass) { return !literalsOf(valueClass).empty(); }

std::string literalName(ValueClassId valueClass, int ordinal) {
  const std::vector<std::string>& literals = literalsOf(valueClass);
  if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= literals.size()) {
    throw std::out_of_range("no literal " + std::to_string(ordinal));
  }
  return laterLiteral(valueClass, literals[static_cast<std::size_t>(ordinal)]);
}

std::optional<int> literalFor(ValueClassId valueClass, std::string_view text) {
  const std::vector<std::string>& literals = literalsOf(valueClass);
  // UML 1.4's metamodel prefixes its literals with the kind's initials.
  const std::size_t underscore = text.find('_');
  const std::string_view bare =
      underscore != std::string_view::npos && underscore <= 3 ? text.substr(underscore + 1) : text;
  for (std::size_t i = 0; i < literals.size(); ++i) {
    const std::string& ours = literals[i];
    if (bare == ours || bare == laterLiteral(valueClass, ours)) return static_cast<int>(i);
  }
  // UML 1.3's junction and choice are 1.1's branch.
  if (valueClass == QOVIXPseudostateKind::kValueClassId &&
      (bare == "junction" || bare == "choice")) {
    return literalFor(valueClass, "branch");
  }
  return std::nullopt;
}

}  // namespace model::xmi
