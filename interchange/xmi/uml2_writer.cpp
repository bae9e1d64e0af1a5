#include "interchange/xmi/uml2_writer.h"

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_set>

#include "model_classes.h"
#include "model/qovix_srv/model_metadata.h"
#include "interchange/xmi/xmi_names.h"
#include "interchange/xmi/xmi_reader.h"
#include "interchange/xmi/xml_writer.h"
#include "utf/utf.h"

namespace model::xmi {
namespace {

// XMI 2.5.1 and UML 2.5.1's namespaces.
constexpr char kXmiSpace[] = "http://www.omg.org/spec/XMI/20131001";
constexpr char kUmlSpace[] = "http://www.omg.org/spec/UML/20161101";

// The UML 2.5.1 metaclass a catalogue class is written as, the nearest
// ancestor's where the class has none of its own (a subsystem is a package,
// an exception a signal); empty for one the export does not write.
std::string metaclassOf(ClassId classId) {
  static const std::map<ClassId, std::string> kinds = {
      {QOVIXModel::kClassId, "Model"},
      {QOVIXPackage::kClassId, "Package"},
      {QOVIXSubsystem::kClassId, "Package"},
      {QOVIXClass::kClassId, "Class"},
      {QOVIXAssociationClass::kClassId, "Class"},
      {QOVIXComponent::kClassId, "Component"},
      {QOVIXNode::kClassId, "Node"},
      {QOVIXInterface::kClassId, "Interface"},
      {QOVIXDataType::kClassId, "DataType"},
      {QOVIXStructure::kClassId, "DataType"},
      {QOVIXPrimitive::kClassId, "PrimitiveType"},
      {QOVIXEnumeration::kClassId, "Enumeration"},
      {QOVIXSignal::kClassId, "Signal"},
      {QOVIXException::kClassId, "Signal"},
      {QOVIXStereotype::kClassId, "Stereotype"},
      {QOVIXUseCase::kClassId, "UseCase"},
      {QOVIXActor::kClassId, "Actor"},
      {QOVIXAssociation::kClassId, "Association"},
      {QOVIXDependency::kClassId, "Dependency"},
      {QOVIXUsage::kClassId, "Usage"},
      {QOVIXRefinement::kClassId, "Abstraction"},
      {QOVIXTrace::kClassId, "Abstraction"},
  };
  const auto found = kinds.find(classId);
  return found != kinds.end() ? found->second : std::string();
}

bool isPackageKind(const std::string& kind) { return kind == "Model" || kind == "Package"; }
// UML 2.5's classifiers that own behaviors (ownedBehavior) and nested
// classifiers (nestedClassifier), and those that own packaged elements.
bool ownsBehaviors(const std::string& kind) {
  return kind == "Class" || kind == "Component" || kind == "Node" || kind == "Stereotype" ||
         kind == "UseCase" || kind == "Actor";
}
bool nestsClassifiers(const std::string& kind) {
  return kind == "Class" || kind == "Component" || kind == "Node" || kind == "Stereotype" ||
         kind == "Interface";
}

// Why the export leaves an object of `classId` out.
std::string whyNotWritten(ClassId classId) {
  const auto is = [&](ClassId ancestor) { return conformsTo(classId, ancestor); };
  if (is(QOVIXTaggedValue::kClassId)) {
    return "UML 2 holds tagged values in stereotype applications, which this export does not "
           "write; XMI 1.2 keeps them";
  }
  if (is(QOVIXAction::kClassId) || is(QOVIXGuard::kClassId) || is(QOVIXEvent::kClassId) ||
      is(QOVIXConstraint::kClassId) || is(QOVIXArgument::kClassId)) {
    return "a UML 2 behavior, event or constraint, which this export does not write; XMI 1.2 "
           "keeps it";
  }
  if (is(QOVIXCollaboration::kClassId) || is(QOVIXClassifierRole::kClassId) ||
      is(QOVIXInteraction::kClassId) || is(QOVIXMessage::kClassId) ||
      is(QOVIXAssociationRole::kClassId) || is(QOVIXAssociationEndRole::kClassId)) {
    return "collaborations and interactions are not written in XMI 2.5; XMI 1.2 keeps them";
  }
  if (is(QOVIXInstance::kClassId) || is(QOVIXLink::kClassId) || is(QOVIXLinkEnd::kClassId) ||
      is(QOVIXAttributeLink::kClassId) || is(QOVIXMessageInstance::kClassId)) {
    return "instances and links are not written in XMI 2.5; XMI 1.2 keeps them";
  }
  if (is(QOVIXStateVertex::kClassId) || is(QOVIXTransition::kClassId)) {
    return "not where UML 2 has a place for it (an internal transition, a state outside a "
           "state machine's top state); XMI 1.2 keeps it";
  }
  static const std::vector<ClassId> writtenInside = {
      QOVIXAttribute::kClassId,    QOVIXOperation::kClassId,          QOVIXParameter::kClassId,
      QOVIXAssociationEnd::kClassId, QOVIXComment::kClassId,          QOVIXStateMachine::kClassId,
      QOVIXGeneralization::kClassId, QOVIXEnumerationLiteral::kClassId,
      QOVIXMultiplicity::kClassId, QOVIXMultiplicityRange::kClassId};
  if (metaclassOf(classId).empty() &&
      std::find(writtenInside.begin(), writtenInside.end(), classId) == writtenInside.end()) {
    return "not written in XMI 2.5; XMI 1.2 keeps it";
  }
  return "owned where UML 2.5 holds no such element (inside a data type, an interface or a "
         "use case); XMI 1.2 keeps it";
}

// UML 1.1's pseudostate kinds as UML 2.5 names them; final is a FinalState.
std::string pseudostateKind(int kind) {
  const std::string name = literalName(QOVIXPseudostateKind::kValueClassId, kind);
  return name == "branch" ? "choice" : name;
}

// Writes the document twice over the same walk: first without output, to
// learn which objects it writes, so that the second writes a reference only
// to an element the document holds, and reports every other one it leaves
// out.
class Writer {
 public:
  Writer(const PersistentStore& store, const std::vector<ObjectId>& objects, ExportReport& report)
      : store_(store), objects_(objects), exported_(objects.begin(), objects.end()),
        report_(report) {}

  void write(ObjectId package, const XmlSink& sink) {
    document(package);
    XmlWriter out(store_.settings().mostDocumentBytes, true, sink);
    out_ = &out;
    machines_.clear();
    tops_.clear();
    vertices_.clear();
    report_.format = "XMI 2.5.1, UML 2.5.1";
    report_.written.clear();
    document(package);
    for (ObjectId id : objects_) {
      if (written_.count(id) == 0 && folded_.count(id) == 0) {
        report_.leave(classInfo(store_.classOf(id)).shortName, whyNotWritten(store_.classOf(id)));
      }
    }
    out.finish();
  }

 private:
  // Output, none on the first walk --------------------------------------

  void start(const std::string& name) {
    if (out_ != nullptr) out_->start(name);
  }
  void attribute(const std::string& name, const std::string& value) {
    if (out_ != nullptr) out_->attribute(name, value);
  }
  void text(const std::string& value) {
    if (out_ != nullptr) out_->text(value);
  }
  void end() {
    if (out_ != nullptr) out_->end();
  }
  bool planning() const { return out_ == nullptr; }

  void document(ObjectId package) {
    start("xmi:XMI");
    attribute("xmlns:xmi", kXmiSpace);
    attribute("xmlns:uml", kUmlSpace);
    start("xmi:Documentation");
    start("exporter");
    text("QOVIX_os");
    end();
    end();
    const std::string kind = metaclassOf(store_.classOf(package));
    start(kind == "Model" ? "uml:Model" : "uml:Package");
    identify(package, kind == "Model" ? "Model" : "Package");
    packageContents(package, 1);
    end();
    end();
  }

  // Values ----------------------------------------------------------------

  std::string textOf(ObjectId id, FeatureId feature) const {
    const auto value = store_.value(id, feature);
    return value ? utf::toUtf8(value->text) : std::string();
  }
  std::optional<int> number(ObjectId id, FeatureId feature) const {
    const auto value = store_.value(id, feature);
    if (!value) return std::nullopt;
    return value->number;
  }
  static std::string id(ObjectId object) { return std::string("o").append(std::to_string(object)); }
  bool inside(ObjectId object) const { return object != 0 && exported_.count(object) != 0; }
  bool is(ObjectId object, ClassId classId) const {
    return conformsTo(store_.classOf(object), classId);
  }

  // An element that stands for `object`: its type, id and name, and, on the
  // first walk, that the document holds it.
  void identify(ObjectId object, const std::string& metaclass) {
    identifyUnnamed(object, metaclass);
    if (is(object, QOVIXModelElement::kClassId) && store_.value(object, feature::name)) {
      attribute("name", textOf(object, feature::name));
    }
  }
  // The same for an element whose UML 2 metaclass has no name, or holds it
  // elsewhere (a comment's body, a literal's own name).
  void identifyUnnamed(ObjectId object, const std::string& metaclass) {
    if (planning()) written_.insert(object);
    identifyPart(metaclass, id(object));
  }
  // An element of the document made of what `object` held, where UML 2 has
  // no element of its own for it (a multiplicity's ranges, a top state).
  void fold(ObjectId object) {
    if (planning()) folded_.insert(object);
  }
  // A UML 2 element no object stands for (a region, a multiplicity's
  // bounds), identified by what it comes of.
  void identifyPart(const std::string& metaclass, const std::string& part) {
    ++report_.written[metaclass];
    attribute("xmi:type", std::string("uml:").append(metaclass));
    attribute("xmi:id", part);
  }

  void visibility(ObjectId object, FeatureId feature) {
    if (const auto visible = number(object, feature)) {
      attribute("visibility", literalName(QOVIXVisibilityKind::kValueClassId, *visible));
    }
  }

  // A reference's ids, those the document holds; nothing when none. On the
  // second walk, each other target is reported: `where` names the property.
  void references(const std::string& where, const char* name,
                  const std::vector<ObjectId>& targets) {
    std::string ids;
    for (ObjectId target : targets) {
      if (target == 0) continue;
      if (written_.count(target) != 0) {
        ids.append(ids.empty() ? "" : " ").append(id(target));
      } else if (!planning()) {
        report_.leave(std::string("reference ").append(where).append(".").append(name),
                      inside(target) ? "names an element the export does not write"
                                     : "names an element outside the package");
      }
    }
    if (!ids.empty()) attribute(name, ids);
  }
  void reference(const std::string& where, const char* name, ObjectId target) {
    references(where, name, {target});
  }

  // Packages --------------------------------------------------------------

  // Packages, components and nested classifiers nest each other at most
  // so deep: deeper, no reader takes the document, and the walk would run
  // out of stack.
  static void checkDepth(std::size_t depth) {
    if (depth > kMostXmiDepth / 4) {
      throw std::runtime_error(std::string("the package's contents nest deeper than ")
                                   .append(std::to_string(kMostXmiDepth / 4))
                                   .append(" packages and classifiers"));
    }
  }

  void packageContents(ObjectId package, std::size_t depth) {
    checkDepth(depth);
    std::vector<ObjectId> realizations;  // of classifiers that are no interfaces
    for (ObjectId member : store_.members(package, feature::QOVIXNamespace_ownedElement)) {
      packaged(member, depth, realizations);
    }
    writeRealizations(realizations);
  }

  // A package's (or a component's) member, as packagedElement.
  void packaged(ObjectId member, std::size_t depth, std::vector<ObjectId>& realizations) {
    if (!inside(member)) return;
    if (is(member, QOVIXComment::kClassId)) {
      comment(member);
      return;
    }
    if (is(member, QOVIXStateMachine::kClassId)) {
      stateMachine(member, "packagedElement");
      return;
    }
    const std::string kind = metaclassOf(store_.classOf(member));
    if (kind.empty()) return;  // reported as not written
    start("packagedElement");
    identify(member, kind);
    if (isPackageKind(kind)) {
      packageContents(member, depth + 1);
    } else if (kind == "Association") {
      association(member);
    } else if (is(member, QOVIXDependency::kClassId)) {
      references(kind, "client", store_.members(member, feature::QOVIXDependency_client));
      references(kind, "supplier", store_.members(member, feature::QOVIXDependency_supplier));
    } else {
      classifier(member, kind, depth, realizations);
    }
    end();
  }

  void writeRealizations(const std::vector<ObjectId>& realizations) {
    for (ObjectId client : realizations) {
      for (ObjectId supplier : store_.members(client, feature::QOVIXClassifier_specification)) {
        if (written_.count(supplier) == 0 || is(supplier, QOVIXInterface::kClassId)) continue;
        start("packagedElement");
        identifyPart("Realization", id(client).append("-realizes-").append(id(supplier)));
        reference("Realization", "client", client);
        reference("Realization", "supplier", supplier);
        end();
      }
    }
  }

  void comment(ObjectId object) {
    start("ownedComment");
    identifyUnnamed(object, "Comment");
    attribute("body", textOf(object, feature::name));
    end();
  }

  // Classifiers -------------------------------------------------------------

  void classifier(ObjectId object, const std::string& kind, std::size_t depth,
                  std::vector<ObjectId>& realizations) {
    checkDepth(depth);
    visibility(object, feature::QOVIXModelElement_elemOwnershipVisibility);
    if (number(object, feature::QOVIXGeneralizableElement_isAbstract).value_or(0) != 0) {
      attribute("isAbstract", "true");
    }
    generalizations(object, kind);
    for (ObjectId supplier : store_.members(object, feature::QOVIXClassifier_specification)) {
      if (!inside(supplier)) continue;
      if (!is(supplier, QOVIXInterface::kClassId)) {
        if (realizations.empty() || realizations.back() != object) realizations.push_back(object);
        continue;
      }
      start("interfaceRealization");
      identifyPart("InterfaceRealization", id(object).append("-realizes-").append(id(supplier)));
      reference("InterfaceRealization", "client", object);
      reference("InterfaceRealization", "supplier", supplier);
      reference("InterfaceRealization", "contract", supplier);
      reference("InterfaceRealization", "implementingClassifier", object);
      end();
    }
    for (ObjectId feature : store_.members(object, feature::QOVIXClassifier_feature)) {
      if (!inside(feature)) continue;
      if (is(feature, QOVIXAttribute::kClassId)) attribute(feature);
      if (is(feature, QOVIXOperation::kClassId)) operation(feature);
    }
    if (is(object, QOVIXEnumeration::kClassId)) {
      for (ObjectId literal : store_.members(object, feature::QOVIXEnumeration_literal)) {
        if (!inside(literal)) continue;
        start("ownedLiteral");
        identifyUnnamed(literal, "EnumerationLiteral");
        attribute("name", textOf(literal, feature::QOVIXEnumerationLiteral_name));
        end();
      }
    }
    ownedMembers(object, kind, depth, realizations);
  }

  void generalizations(ObjectId object, const std::string& kind) {
    for (ObjectId generalization :
         store_.members(object, feature::QOVIXGeneralizableElement_generalization)) {
      const ObjectId general =
          store_.reference(generalization, feature::QOVIXGeneralization_supertype);
      if (!inside(generalization)) continue;
      // UML 2's generalization is its specific classifier's, written once.
      const ObjectId specific =
          store_.reference(generalization, feature::QOVIXGeneralization_subtype);
      if (specific != 0 && specific != object) continue;
      if (planning() ? !inside(general) : written_.count(general) == 0) {
        if (!planning()) {
          report_.leave(kind + "'s Generalization",
                        inside(general) ? "its general is not written"
                                        : "its general is outside the package");
        }
        continue;
      }
      start("generalization");
      identifyUnnamed(generalization, "Generalization");
      reference("Generalization", "general", general);
      end();
    }
  }

  // What a classifier owns as a namespace, and its behaviors: comments
  // (any classifier), state machines (those that own behaviors), nested
  // classifiers (classes and interfaces), and a component's packaged
  // elements. The rest is reported as not written.
  void ownedMembers(ObjectId object, const std::string& kind, std::size_t depth,
                    std::vector<ObjectId>& realizations) {
    std::vector<ObjectId> members = store_.members(object, feature::QOVIXNamespace_ownedElement);
    for (ObjectId behavior : store_.members(object, feature::QOVIXModelElement_behavior)) {
      if (std::find(members.begin(), members.end(), behavior) == members.end())
        members.push_back(behavior);
    }
    for (ObjectId member : members) {
      if (!inside(member)) continue;
      if (is(member, QOVIXComment::kClassId)) {
        comment(member);
      } else if (is(member, QOVIXStateMachine::kClassId)) {
        if (ownsBehaviors(kind)) stateMachine(member, "ownedBehavior");
      } else if (kind == "Component") {
        packaged(member, depth + 1, realizations);
      } else if (nestsClassifiers(kind) && is(member, QOVIXClassifier::kClassId)) {
        const std::string nestedKind = metaclassOf(store_.classOf(member));
        if (nestedKind.empty() || isPackageKind(nestedKind)) continue;
        start("nestedClassifier");
        identify(member, nestedKind);
        classifier(member, nestedKind, depth + 1, realizations);
        end();
      }
    }
  }

  // lowerValue and upperValue from the multiplicity's ranges: the first's
  // lower, the last's upper.
  void multiplicity(ObjectId owner, ObjectId made) {
    if (!inside(made)) return;
    fold(made);  // an empty one is no bounds at all
    const std::vector<ObjectId> ranges = store_.members(made, feature::QOVIXMultiplicity_ranges);
    if (ranges.empty()) return;
    for (ObjectId range : ranges) fold(range);
    const int lower = number(ranges.front(), feature::QOVIXMultiplicityRange_lower).value_or(0);
    const int upper = number(ranges.back(), feature::QOVIXMultiplicityRange_upper).value_or(1);
    start("lowerValue");
    identifyPart("LiteralInteger", id(owner).append("-lower"));
    attribute("value", std::to_string(lower));
    end();
    start("upperValue");
    identifyPart("LiteralUnlimitedNatural", id(owner).append("-upper"));
    attribute("value", upper < 0 ? "*" : std::to_string(upper));
    end();
  }

  void attribute(ObjectId object) {
    start("ownedAttribute");
    identify(object, "Property");
    visibility(object, feature::QOVIXFeature_visibility);
    if (number(object, feature::QOVIXFeature_ownerScope).value_or(0) == 1) {
      attribute("isStatic", "true");
    }
    if (number(object, feature::QOVIXStructuralFeature_changeable).value_or(0) == 1) {
      attribute("isReadOnly", "true");
    }
    reference("Property", "type", store_.reference(object, feature::QOVIXStructuralFeature_type));
    multiplicity(object, store_.reference(object, feature::QOVIXStructuralFeature_multiplicity));
    if (store_.value(object, feature::QOVIXAttribute_initialValue)) {
      start("defaultValue");
      identifyPart("OpaqueExpression", id(object).append("-default"));
      start("body");
      text(textOf(object, feature::QOVIXAttribute_initialValue));
      end();
      end();
    }
    end();
  }

  void operation(ObjectId object) {
    start("ownedOperation");
    identify(object, "Operation");
    visibility(object, feature::QOVIXFeature_visibility);
    if (number(object, feature::QOVIXFeature_ownerScope).value_or(0) == 1) {
      attribute("isStatic", "true");
    }
    if (number(object, feature::QOVIXBehavioralFeature_isQuery).value_or(0) != 0) {
      attribute("isQuery", "true");
    }
    for (ObjectId parameter : store_.members(object, feature::QOVIXBehavioralFeature_parameter)) {
      if (!inside(parameter)) continue;
      start("ownedParameter");
      identify(parameter, "Parameter");
      if (const auto kind = number(parameter, feature::QOVIXParameter_kind)) {
        attribute("direction", literalName(QOVIXParameterDirectionKind::kValueClassId, *kind));
      }
      reference("Parameter", "type", store_.reference(parameter, feature::QOVIXParameter_type));
      end();
    }
    end();
  }

  // An association's ends are its own (ownedEnd), the navigable ones
  // listed; UML 2 marks a composite at the part's end property, the other
  // end from where UML 1.x marks it.
  void association(ObjectId object) {
    std::vector<ObjectId> ends;
    for (ObjectId each : store_.members(object, feature::QOVIXAssociation_connection)) {
      if (inside(each)) ends.push_back(each);
    }
    // The ends are the association's own elements: written with it.
    if (planning()) written_.insert(ends.begin(), ends.end());
    references("Association", "memberEnd", ends);
    std::vector<ObjectId> navigable;
    for (ObjectId each : ends) {
      if (number(each, feature::QOVIXAssociationEnd_isNavigable).value_or(0) != 0) {
        navigable.push_back(each);
      }
    }
    references("Association", "navigableOwnedEnd", navigable);
    for (std::size_t i = 0; i < ends.size(); ++i) {
      const ObjectId endId = ends[i];
      start("ownedEnd");
      identify(endId, "Property");
      visibility(endId, feature::QOVIXModelElement_elemOwnershipVisibility);
      reference("Property", "type", store_.reference(endId, feature::QOVIXAssociationEnd_type));
      reference("Property", "association", object);
      if (ends.size() == 2) {
        const int aggregation =
            number(ends[1 - i], feature::QOVIXAssociationEnd_aggregation).value_or(0);
        if (aggregation != 0) attribute("aggregation", aggregation == 1 ? "shared" : "composite");
      }
      if (number(endId, feature::QOVIXAssociationEnd_isOrdered).value_or(0) != 0) {
        attribute("isOrdered", "true");
      }
      multiplicity(endId, store_.reference(endId, feature::QOVIXAssociationEnd_multiplicity));
      end();
    }
  }

  // State machines ----------------------------------------------------------

  // A state machine: its top state is its region, whose vertices are the
  // top state's substates, a composite state's region holding its own; the
  // machine's transitions are the top region's. Guards, triggers, effects
  // and entry and exit actions are UML 2 behaviors, reported as not written.
  void stateMachine(ObjectId machine, const char* property) {
    if (!machines_.insert(machine).second) return;  // listed by two owners
    start(property);
    identify(machine, "StateMachine");
    const ObjectId top = store_.reference(machine, feature::QOVIXStateMachine_top);
    // A top state two machines share is the first's region.
    if (inside(top) && tops_.insert(top).second) {
      fold(top);
      start("region");
      identifyPart("Region", id(top).append("-region"));
      vertices_.insert(top);  // the region: no vertex of its own
      vertices(top, 1);
      for (ObjectId transition :
           store_.members(machine, feature::QOVIXStateMachine_transitions)) {
        if (!inside(transition)) continue;
        start("transition");
        identify(transition, "Transition");
        reference("Transition", "source",
                  store_.reference(transition, feature::QOVIXTransition_source));
        reference("Transition", "target",
                  store_.reference(transition, feature::QOVIXTransition_target));
        end();
      }
      end();
    }
    end();
  }

  void vertices(ObjectId composite, std::size_t depth) {
    checkDepth(depth);
    for (ObjectId vertex : store_.members(composite, feature::QOVIXCompositeState_substate)) {
      if (!inside(vertex) || !vertices_.insert(vertex).second) continue;  // each once
      start("subvertex");
      if (is(vertex, QOVIXPseudostate::kClassId)) {
        const int kind = number(vertex, feature::QOVIXPseudostate_kind).value_or(0);
        const std::string name = pseudostateKind(kind);
        if (name == "final") {
          identify(vertex, "FinalState");
        } else {
          identify(vertex, "Pseudostate");
          attribute("kind", name);
        }
      } else {
        identify(vertex, "State");
        if (is(vertex, QOVIXSubmachineState::kClassId)) {
          reference("State", "submachine",
                    store_.reference(vertex, feature::QOVIXSubmachineState_submachine));
        }
        if (is(vertex, QOVIXCompositeState::kClassId) &&
            store_.memberCount(vertex, feature::QOVIXCompositeState_substate) > 0) {
          start("region");
          identifyPart("Region", id(vertex).append("-region"));
          vertices(vertex, depth + 1);
          end();
        }
      }
      end();
    }
  }

  const PersistentStore& store_;
  const std::vector<ObjectId>& objects_;
  std::unordered_set<ObjectId> exported_;
  std::unordered_set<ObjectId> written_;  // what the first walk found the document holds
  std::unordered_set<ObjectId> folded_;   // written as part of another element
  std::unordered_set<ObjectId> machines_;  // the state machines written on this walk
  std::unordered_set<ObjectId> tops_;      // and their top states
  std::unordered_set<ObjectId> vertices_;  // and their states
  ExportReport& report_;
  XmlWriter* out_ = nullptr;  // none on the first walk
};

}  // namespace

void writeUml25(const PersistentStore& store, const std::vector<ObjectId>& objects,
                ExportReport& report, const XmlSink& sink) {
  if (objects.empty()) throw std::invalid_argument("no package to write");
  try {
    Writer(store, objects, report).write(objects.front(), sink);
  } catch (const std::runtime_error& error) {
    if (std::string_view(error.what()).find("XML cannot carry") != std::string_view::npos) {
      throw std::invalid_argument(error.what());
    }
    throw;
  }
}

}  // namespace model::xmi
