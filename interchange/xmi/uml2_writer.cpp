#include "interchange/xmi/uml2_writer.h"

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

// The UML 2.5.1 metaclass a catalogue class is written as; empty for one
// the class-model subset does not hold.
std::string metaclassOf(ClassId classId) {
  static const std::map<ClassId, std::string> kinds = {
      {QOVIXModel::kClassId, "Model"},
      {QOVIXPackage::kClassId, "Package"},
      {QOVIXClass::kClassId, "Class"},
      {QOVIXInterface::kClassId, "Interface"},
      {QOVIXDataType::kClassId, "DataType"},
      {QOVIXPrimitive::kClassId, "PrimitiveType"},
      {QOVIXEnumeration::kClassId, "Enumeration"},
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

class Writer {
 public:
  Writer(const PersistentStore& store, const std::vector<ObjectId>& objects)
      : store_(store),
        exported_(objects.begin(), objects.end()),
        out_(store.settings().mostDocumentBytes, true) {}

  std::string write(ObjectId package) {
    out_.start("xmi:XMI");
    out_.attribute("xmlns:xmi", kXmiSpace);
    out_.attribute("xmlns:uml", kUmlSpace);
    out_.start("xmi:Documentation");
    out_.start("exporter");
    out_.text("QOVIX_os");
    out_.end();
    out_.end();
    const std::string kind = metaclassOf(store_.classOf(package));
    out_.start(kind == "Model" ? "uml:Model" : "uml:Package");
    identify(package, kind == "Model" ? "Model" : "Package");
    packageContents(package, 1);
    out_.end();
    out_.end();
    return out_.finish();
  }

 private:
  // Text -----------------------------------------------------------------

  std::string text(ObjectId id, FeatureId feature) const {
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

  void identify(ObjectId object, const std::string& metaclass) {
    out_.attribute("xmi:type", std::string("uml:").append(metaclass));
    out_.attribute("xmi:id", id(object));
    if (is(object, QOVIXModelElement::kClassId) && store_.value(object, feature::name)) {
      out_.attribute("name", text(object, feature::name));
    }
  }

  void visibility(ObjectId object, FeatureId feature) {
    if (const auto visible = number(object, feature)) {
      out_.attribute("visibility", literalName(QOVIXVisibilityKind::kValueClassId, *visible));
    }
  }

  // A reference's ids, those the document holds; nothing when none.
  void references(const char* name, const std::vector<ObjectId>& targets) {
    std::string ids;
    for (ObjectId target : targets) {
      if (inside(target)) ids.append(ids.empty() ? "" : " ").append(id(target));
    }
    if (!ids.empty()) out_.attribute(name, ids);
  }
  void reference(const char* name, ObjectId target) { references(name, {target}); }

  // Packages --------------------------------------------------------------

  void packageContents(ObjectId package, std::size_t depth) {
    if (depth > kMostXmiDepth / 4) {
      throw std::runtime_error(std::string("the package's contents nest deeper than ")
                                   .append(std::to_string(kMostXmiDepth / 4))
                                   .append(" packages"));
    }
    std::vector<ObjectId> realizations;  // of classifiers that are no interfaces
    for (ObjectId member : store_.members(package, feature::QOVIXNamespace_ownedElement)) {
      if (!inside(member)) continue;
      if (is(member, QOVIXComment::kClassId)) {
        comment(member);
        continue;
      }
      const std::string kind = metaclassOf(store_.classOf(member));
      if (kind.empty()) continue;  // outside the class-model subset
      out_.start("packagedElement");
      identify(member, kind);
      if (kind == "Model" || kind == "Package") {
        packageContents(member, depth + 1);
      } else if (kind == "Association") {
        association(member);
      } else if (is(member, QOVIXDependency::kClassId)) {
        references("client", store_.members(member, feature::QOVIXDependency_client));
        references("supplier", store_.members(member, feature::QOVIXDependency_supplier));
      } else {
        classifier(member, realizations);
      }
      out_.end();
    }
    for (ObjectId client : realizations) {
      for (ObjectId supplier : store_.members(client, feature::QOVIXClassifier_specification)) {
        if (!inside(supplier) || is(supplier, QOVIXInterface::kClassId)) continue;
        out_.start("packagedElement");
        out_.attribute("xmi:type", "uml:Realization");
        out_.attribute("xmi:id", id(client).append("-realizes-").append(id(supplier)));
        reference("client", client);
        reference("supplier", supplier);
        out_.end();
      }
    }
  }

  void comment(ObjectId object) {
    out_.start("ownedComment");
    out_.attribute("xmi:type", "uml:Comment");
    out_.attribute("xmi:id", id(object));
    out_.attribute("body", text(object, feature::name));
    out_.end();
  }

  // Classifiers -------------------------------------------------------------

  void classifier(ObjectId object, std::vector<ObjectId>& realizations) {
    visibility(object, feature::QOVIXModelElement_elemOwnershipVisibility);
    if (number(object, feature::QOVIXGeneralizableElement_isAbstract).value_or(0) != 0) {
      out_.attribute("isAbstract", "true");
    }
    for (ObjectId generalization :
         store_.members(object, feature::QOVIXGeneralizableElement_generalization)) {
      const ObjectId general =
          store_.reference(generalization, feature::QOVIXGeneralization_supertype);
      if (!inside(generalization) || !inside(general)) continue;
      out_.start("generalization");
      out_.attribute("xmi:type", "uml:Generalization");
      out_.attribute("xmi:id", id(generalization));
      reference("general", general);
      out_.end();
    }
    for (ObjectId supplier : store_.members(object, feature::QOVIXClassifier_specification)) {
      if (!inside(supplier)) continue;
      if (!is(supplier, QOVIXInterface::kClassId)) {
        realizations.push_back(object);
        continue;
      }
      out_.start("interfaceRealization");
      out_.attribute("xmi:type", "uml:InterfaceRealization");
      out_.attribute("xmi:id", id(object).append("-realizes-").append(id(supplier)));
      reference("client", object);
      reference("supplier", supplier);
      reference("contract", supplier);
      reference("implementingClassifier", object);
      out_.end();
    }
    for (ObjectId feature : store_.members(object, feature::QOVIXClassifier_feature)) {
      if (!inside(feature)) continue;
      if (is(feature, QOVIXAttribute::kClassId)) attribute(feature);
      if (is(feature, QOVIXOperation::kClassId)) operation(feature);
    }
    if (is(object, QOVIXEnumeration::kClassId)) {
      for (ObjectId literal : store_.members(object, feature::QOVIXEnumeration_literal)) {
        if (!inside(literal)) continue;
        out_.start("ownedLiteral");
        out_.attribute("xmi:type", "uml:EnumerationLiteral");
        out_.attribute("xmi:id", id(literal));
        out_.attribute("name", text(literal, feature::QOVIXEnumerationLiteral_name));
        out_.end();
      }
    }
    for (ObjectId nested : store_.members(object, feature::QOVIXNamespace_ownedElement)) {
      if (!inside(nested) || !is(nested, QOVIXClassifier::kClassId)) continue;
      const std::string kind = metaclassOf(store_.classOf(nested));
      if (kind.empty()) continue;
      out_.start("nestedClassifier");
      identify(nested, kind);
      classifier(nested, realizations);
      out_.end();
    }
  }

  // lowerValue and upperValue from the multiplicity's ranges: the first's
  // lower, the last's upper.
  void multiplicity(ObjectId owner, ObjectId made) {
    if (!inside(made)) return;
    const std::vector<ObjectId> ranges = store_.members(made, feature::QOVIXMultiplicity_ranges);
    if (ranges.empty()) return;
    const int lower = number(ranges.front(), feature::QOVIXMultiplicityRange_lower).value_or(0);
    const int upper = number(ranges.back(), feature::QOVIXMultiplicityRange_upper).value_or(1);
    out_.start("lowerValue");
    out_.attribute("xmi:type", "uml:LiteralInteger");
    out_.attribute("xmi:id", id(owner).append("-lower"));
    out_.attribute("value", std::to_string(lower));
    out_.end();
    out_.start("upperValue");
    out_.attribute("xmi:type", "uml:LiteralUnlimitedNatural");
    out_.attribute("xmi:id", id(owner).append("-upper"));
    out_.attribute("value", upper < 0 ? "*" : std::to_string(upper));
    out_.end();
  }

  void attribute(ObjectId object) {
    out_.start("ownedAttribute");
    identify(object, "Property");
    visibility(object, feature::QOVIXFeature_visibility);
    if (number(object, feature::QOVIXFeature_ownerScope).value_or(0) == 1) {
      out_.attribute("isStatic", "true");
    }
    if (number(object, feature::QOVIXStructuralFeature_changeable).value_or(0) == 1) {
      out_.attribute("isReadOnly", "true");
    }
    reference("type", store_.reference(object, feature::QOVIXStructuralFeature_type));
    multiplicity(object, store_.reference(object, feature::QOVIXStructuralFeature_multiplicity));
    if (store_.value(object, feature::QOVIXAttribute_initialValue)) {
      out_.start("defaultValue");
      out_.attribute("xmi:type", "uml:OpaqueExpression");
      out_.attribute("xmi:id", id(object).append("-default"));
      out_.start("body");
      out_.text(text(object, feature::QOVIXAttribute_initialValue));
      out_.end();
      out_.end();
    }
    out_.end();
  }

  void operation(ObjectId object) {
    out_.start("ownedOperation");
    identify(object, "Operation");
    visibility(object, feature::QOVIXFeature_visibility);
    if (number(object, feature::QOVIXFeature_ownerScope).value_or(0) == 1) {
      out_.attribute("isStatic", "true");
    }
    if (number(object, feature::QOVIXBehavioralFeature_isQuery).value_or(0) != 0) {
      out_.attribute("isQuery", "true");
    }
    for (ObjectId parameter : store_.members(object, feature::QOVIXBehavioralFeature_parameter)) {
      if (!inside(parameter)) continue;
      out_.start("ownedParameter");
      identify(parameter, "Parameter");
      if (const auto kind = number(parameter, feature::QOVIXParameter_kind)) {
        out_.attribute("direction", literalName(QOVIXParameterDirectionKind::kValueClassId, *kind));
      }
      reference("type", store_.reference(parameter, feature::QOVIXParameter_type));
      out_.end();
    }
    out_.end();
  }

  // An association's ends are its own (ownedEnd), the navigable ones
  // listed; UML 2 marks a composite at the part's end property, the other
  // end from where UML 1.x marks it.
  void association(ObjectId object) {
    std::vector<ObjectId> ends;
    for (ObjectId end : store_.members(object, feature::QOVIXAssociation_connection)) {
      if (inside(end)) ends.push_back(end);
    }
    references("memberEnd", ends);
    std::vector<ObjectId> navigable;
    for (ObjectId end : ends) {
      if (number(end, feature::QOVIXAssociationEnd_isNavigable).value_or(0) != 0) {
        navigable.push_back(end);
      }
    }
    references("navigableOwnedEnd", navigable);
    for (std::size_t i = 0; i < ends.size(); ++i) {
      const ObjectId end = ends[i];
      out_.start("ownedEnd");
      identify(end, "Property");
      visibility(end, feature::QOVIXModelElement_elemOwnershipVisibility);
      reference("type", store_.reference(end, feature::QOVIXAssociationEnd_type));
      reference("association", object);
      if (ends.size() == 2) {
        const int aggregation =
            number(ends[1 - i], feature::QOVIXAssociationEnd_aggregation).value_or(0);
        if (aggregation != 0)
          out_.attribute("aggregation", aggregation == 1 ? "shared" : "composite");
      }
      if (number(end, feature::QOVIXAssociationEnd_isOrdered).value_or(0) != 0) {
        out_.attribute("isOrdered", "true");
      }
      multiplicity(end, store_.reference(end, feature::QOVIXAssociationEnd_multiplicity));
      out_.end();
    }
  }

  const PersistentStore& store_;
  std::unordered_set<ObjectId> exported_;
  XmlWriter out_;
};

}  // namespace

std::string writeUml25(const PersistentStore& store, const std::vector<ObjectId>& objects) {
  if (objects.empty()) throw std::invalid_argument("no package to write");
  try {
    return Writer(store, objects).write(objects.front());
  } catch (const std::runtime_error& error) {
    if (std::string_view(error.what()).find("XML cannot carry") != std::string_view::npos) {
      throw std::invalid_argument(error.what());
    }
    throw;
  }
}

}  // namespace model::xmi
