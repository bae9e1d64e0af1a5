#include "interchange/xmi/uml2_reading.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <unordered_set>
#include <vector>

#include "interchange/xmi/xml_writer.h"

namespace model::xmi {
namespace {

// XMI 2's namespaces: http://www.omg.org/XMI (Eclipse), .../spec/XMI/2.1,
// .../spec/XMI/20131001 (2.5.1) and the like.
bool inXmiSpace(std::string_view uri) {
  return uri.find("omg.org") != std::string_view::npos &&
         uri.find("/XMI") != std::string_view::npos;
}

// UML 2's: http://www.eclipse.org/uml2/5.0.0/UML, .../spec/UML/20131001 and
// the like; not the standard profiles published beside them.
bool inUmlSpace(std::string_view uri) {
  const bool uml = (uri.find("omg.org") != std::string_view::npos &&
                    uri.find("/UML") != std::string_view::npos) ||
                   uri.find("eclipse.org/uml2") != std::string_view::npos;
  return uml && uri.find("Profile") == std::string_view::npos;
}

std::string xmiAttribute(const XmlElement* element, const char* name) {
  const char* value = attributeIn(element, "/XMI", name);
  return value != nullptr ? value : "";
}

std::string local(const XmlElement* element) { return std::string(element->name); }

// XML Schema's instance namespace, whose `type` EMF writes for xmi:type.
constexpr std::string_view kSchemaInstanceSpace = "http://www.w3.org/2001/XMLSchema-instance";

// An XMI 2 version as people know it: 20131001 is 2.5.1.
std::string versionName(const std::string& version) {
  static const std::map<std::string, std::string> dated = {
      {"20131001", "2.5.1"}, {"20110701", "2.4.1"}, {"20100901", "2.4"}, {"20090901", "2.3"}};
  const auto found = dated.find(version);
  return found != dated.end() ? found->second : version;
}

// The kind an element of a property is, when its xmi:type does not say.
std::string defaultKind(const std::string& property) {
  static const std::map<std::string, std::string> kinds = {
      {"ownedAttribute", "Property"},
      {"ownedEnd", "Property"},
      {"ownedOperation", "Operation"},
      {"ownedParameter", "Parameter"},
      {"returnResult", "Parameter"},
      {"generalization", "Generalization"},
      {"ownedLiteral", "EnumerationLiteral"},
      {"ownedComment", "Comment"},
      {"interfaceRealization", "InterfaceRealization"},
      {"region", "Region"},
      {"transition", "Transition"},
      {"extensionPoint", "ExtensionPoint"},
      {"include", "Include"},
      {"extend", "Extend"},
      {"ownedRule", "Constraint"}};
  const auto found = kinds.find(property);
  return found != kinds.end() ? found->second : "";
}

// UML 2 classifiers and the UML 1.4 metaclass each is written as.
const std::map<std::string, std::string>& classifierKinds() {
  static const std::map<std::string, std::string> kinds = {{"Class", "Class"},
                                                           {"Interface", "Interface"},
                                                           {"DataType", "DataType"},
                                                           {"PrimitiveType", "DataType"},
                                                           {"Enumeration", "Enumeration"},
                                                           {"UseCase", "UseCase"},
                                                           {"Actor", "Actor"},
                                                           {"Stereotype", "Stereotype"},
                                                           {"Signal", "Signal"},
                                                           {"Component", "Component"},
                                                           {"Artifact", "Component"},
                                                           {"Node", "Node"},
                                                           {"Device", "Node"},
                                                           {"ExecutionEnvironment", "Node"}};
  return kinds;
}

class Translator {
 public:
  Translator(const XmlElement* root, ImportReport& report)
      : root_(root), report_(report), out_(std::size_t{1} << 31, false) {}

  std::string translate(std::string& format) {
    std::string version = xmiAttribute(root_, "version");
    if (version.empty()) {
      // XMI 2.5 dropped xmi:version: its namespace says it (.../XMI/20131001).
      const std::string_view space = xmiSpaceOf(root_);
      const std::size_t slash = space.rfind('/');
      if (slash != std::string_view::npos && slash + 1 < space.size() &&
          std::isdigit(static_cast<unsigned char>(space[slash + 1]))) {
        version = std::string(space.substr(slash + 1));
      }
    }
    index(root_);
    findEnds();
    std::vector<const XmlElement*> packages;
    if (inUmlSpace(root_->space)) {
      packages.push_back(root_);
    } else {
      for (const XmlElement* child = root_->firstChild; child; child = child->nextSibling) {
        if (inUmlSpace(child->space)) {
          packages.push_back(child);
        } else if (inXmiSpace(child->space)) {
          readXmiPart(child);
        } else {
          applications_.push_back(child);
        }
      }
    }
    format = "XMI " + (version.empty() ? std::string("2.x") : versionName(version)) + ", UML 2";
    collectApplications();
    out_.start("XMI");
    out_.attribute("xmi.version", "1.2");
    out_.attribute("xmlns:UML", "org.omg.xmi.namespace.UML");
    out_.start("XMI.header");
    if (!exporter_.empty()) {
      out_.start("XMI.documentation");
      out_.start("XMI.exporter");
      out_.text(exporter_);
      out_.end();
      out_.end();
    }
    out_.start("XMI.metamodel");
    out_.attribute("xmi.name", "UML");
    out_.attribute("xmi.version", "1.4");
    out_.end();
    out_.end();
    out_.start("XMI.content");
    const bool one = packages.size() == 1 && isPackage(kindOf(packages.front(), ""));
    pending_.emplace_back();  // the relations of classifiers outside any package
    for (const XmlElement* package : packages) {
      const std::string kind = kindOf(package, "");
      if (isPackage(kind)) {
        emitPackage(package, kind, one);
      } else {
        emitPackaged(package, "");
      }
    }
    emitPending();
    if (!one) emitExtras();
    emitTags();
    out_.end();
    out_.end();
    countElements();
    return out_.finish();
  }

 private:
  struct Ref {
    std::string id;    // of the document's element; empty for one outside it
    std::string name;  // outside the document: what the reference calls it
  };

  // Reading ------------------------------------------------------------------

  void index(const XmlElement* element) {
    const std::string id = xmiAttribute(element, "id");
    if (!id.empty()) byId_.emplace(id, element);
    for (const XmlElement* child = element->firstChild; child; child = child->nextSibling) {
      index(child);
    }
  }

  void readXmiPart(const XmlElement* part) {
    const std::string name = local(part);
    if (name == "Documentation") {
      bool given = false;
      exporter_ = attribute(part, "exporter", &given);
      for (const XmlElement* child = part->firstChild; child; child = child->nextSibling) {
        if (local(child) == "exporter") exporter_ = textOf(child);
        if (local(child) == "exporterVersion") exporter_ += " " + textOf(child);
      }
      if (const std::string version = attribute(part, "exporterVersion"); !version.empty()) {
        exporter_ += " " + version;
      }
    } else if (name == "Extension") {
      const std::string extender = attribute(part, "extender");
      report_.skip("xmi:Extension" + (extender.empty() ? "" : " (" + extender + ")"),
                   "a tool's own data, not part of the model");
    } else {
      report_.skip("xmi:" + name, "not part of the model");
    }
  }

  // The XMI namespace the root is in, or that its attributes use.
  static std::string_view xmiSpaceOf(const XmlElement* root) {
    if (inXmiSpace(root->space)) return root->space;
    for (std::size_t i = 0; i < root->attributeCount; ++i) {
      if (inXmiSpace(root->attributes[i].space)) return root->attributes[i].space;
    }
    return {};
  }

  // An element's metaclass: its xmi:type, or the xsi:type EMF's writers
  // give it instead (XMI 2.0), as "uml:Class"; else its own name in the UML
  // namespace, else what its property holds.
  std::string kindOf(const XmlElement* element, const std::string& property) const {
    if (const std::string type = typeOf(element); !type.empty()) {
      return type.substr(type.find(':') + 1);
    }
    if (inUmlSpace(element->space)) return local(element);
    return defaultKind(property);
  }

  // The type an element names itself by, as "uml:Class"; empty for none.
  static std::string typeOf(const XmlElement* element) {
    const std::string type = xmiAttribute(element, "type");
    if (!type.empty()) return type;
    const char* schemaType = attributeIn(element, kSchemaInstanceSpace, "type");
    return schemaType != nullptr ? schemaType : "";
  }

  static bool isPackage(const std::string& kind) {
    return kind == "Model" || kind == "Package" || kind == "Profile";
  }

  // The elements a property names: its attribute's ids, or its elements'
  // xmi:idref or href.
  std::vector<Ref> refs(const XmlElement* element, const char* property) const {
    std::vector<Ref> found;
    bool present = false;
    const std::string ids = attribute(element, property, &present);
    if (present) {
      std::istringstream words(ids);
      for (std::string id; words >> id;) found.push_back(refTo(id));
    }
    for (const XmlElement* child = element->firstChild; child; child = child->nextSibling) {
      if (local(child) != property) continue;
      if (const std::string idref = xmiAttribute(child, "idref"); !idref.empty()) {
        found.push_back(refTo(idref));
      } else if (const std::string href = attribute(child, "href"); !href.empty()) {
        const std::string fragment = href.substr(href.find('#') + 1);
        if (byId_.count(fragment) != 0 && href.find('#') == 0) {
          found.push_back({fragment, {}});
        } else {
          found.push_back({{}, fragment});
        }
      }
    }
    return found;
  }

  Ref refTo(const std::string& id) const {
    if (byId_.count(id) != 0) return {id, {}};
    return {{}, id};
  }

  const XmlElement* element(const std::string& id) const {
    const auto found = byId_.find(id);
    return found != byId_.end() ? found->second : nullptr;
  }

  // The id a reference is written as: a type outside the document (a
  // primitive type library's String, a tool's EAJava_int) becomes a data
  // type of the model, one per name.
  std::string typeId(const Ref& ref) {
    if (!ref.id.empty()) return ref.id;
    std::string name = ref.name;
    if (name.rfind("EA", 0) == 0 && name.find('_') != std::string::npos) {
      name = name.substr(name.find('_') + 1);  // EAJava_int, EAnone_String
    }
    if (name.empty()) return {};
    const auto [at, made] = externalTypes_.emplace(name, "qovix.type." + name);
    if (made) {
      report_.deviate("types from outside the document (" + ref.name.substr(0, 60) + ")",
                      "made data types of the model, by name");
    }
    return at->second;
  }

  std::string idsOf(const std::vector<Ref>& refs) {
    std::string ids;
    for (const Ref& ref : refs) {
      if (ref.id.empty()) {
        report_.skip("reference to '" + ref.name.substr(0, 60) + "'", "outside the document");
        continue;
      }
      ids += (ids.empty() ? "" : " ") + ref.id;
    }
    return ids;
  }

  // Stereotypes applied, where the profile defining them is in the
  // document: their elements, and their tagged values.
  void collectApplications() {
    std::map<std::string, std::string> definitions;  // stereotype name -> id
    for (const auto& [id, defined] : byId_) {
      if (kindOf(defined, "") == "Stereotype") definitions.emplace(attribute(defined, "name"), id);
    }
    for (const XmlElement* application : applications_) {
      const std::string stereotype = local(application);
      const auto definition = definitions.find(stereotype);
      // Each base_ attribute names the element one metaclass's extension
      // reaches, and they name the same element (SysML's base_Class and
      // base_Element); one that names several is not UML 2, and is read
      // once, not once per element, whatever its shape.
      std::vector<std::string> bases;
      std::set<std::string_view> seen;
      for (std::size_t i = 0; i < application->attributeCount; ++i) {
        const XmlAttribute& each = application->attributes[i];
        if (each.space.empty() && std::string_view(each.name).starts_with("base_") &&
            byId_.count(each.value) != 0 && seen.insert(each.value).second) {
          bases.emplace_back(each.value);
        }
      }
      if (definition == definitions.end() || bases.empty()) {
        report_.skip(
            "«" + stereotype.substr(0, 60) + "» applied",
            bases.empty() ? "to no element of the document" : "its profile is not in the document");
        skippedAt_.insert(application);
        continue;
      }
      folded_.insert(application);  // into the stereotype's elements and tagged values
      if (bases.size() > 1) {
        report_.skip("«" + stereotype.substr(0, 60) + "» applied to several elements at once",
                     "applied to the first alone, with its tagged values");
      }
      const std::string& base = bases.front();
      extended_[definition->second].push_back(base);
      for (std::size_t i = 0; i < application->attributeCount; ++i) {
        const XmlAttribute& each = application->attributes[i];
        if (each.space.empty() && !std::string_view(each.name).starts_with("base_")) {
          tags_.push_back({base, each.name, each.value});
        }
      }
      for (const XmlElement* child = application->firstChild; child; child = child->nextSibling) {
        if (child->firstChild == nullptr) tags_.push_back({base, local(child), textOf(child)});
      }
    }
  }

  // Writing the UML 1.4 model ---------------------------------------------

  void startElement(const std::string& metaclass, const XmlElement* from) {
    out_.start("UML:" + metaclass);
    emitted_.insert(from);
    if (const std::string id = xmiAttribute(from, "id"); !id.empty()) {
      if (element(id) == from) {
        out_.attribute("xmi.id", id);
      } else {
        // A second element under an id in use is an element of its own;
        // references to the id name the first, by position.
        report_.deviate(metaclass + " under an xmi:id in use",
                        "read as an element of its own; references to the id name the first");
      }
    }
    bool named = false;
    const std::string name = attribute(from, "name", &named);
    if (named) out_.attribute("name", name);
    copyAttribute(from, "visibility");
  }

  void copyAttribute(const XmlElement* from, const char* name, const char* as = nullptr) {
    bool present = false;
    const std::string value = attribute(from, name, &present);
    if (present) out_.attribute(as != nullptr ? as : name, value);
  }

  void emitPackage(const XmlElement* package, const std::string& kind, bool top) {
    if (kind == "Profile") report_.deviate("Profile", "read as a Package");
    startElement(kind == "Model" ? "Model" : "Package", package);
    out_.start("UML:Namespace.ownedElement");
    pending_.emplace_back();
    for (const XmlElement* child = package->firstChild; child; child = child->nextSibling) {
      const std::string property = local(child);
      if (inXmiSpace(child->space)) {
        readXmiPart(child);
      } else if (property == "packagedElement" || property == "ownedMember" ||
                 property == "nestedPackage" || property == "ownedType" ||
                 property == "ownedStereotype") {
        emitPackaged(child, property);
      } else if (property == "ownedComment") {
        emitComment(child);
      } else {
        skipProperty(kind, child);
      }
    }
    emitPending();
    if (top) emitExtras();
    out_.end();
    out_.end();
  }

  void skipProperty(const std::string& kind, const XmlElement* property) {
    report_.skip(kind + "." + local(property), "UML 1.1 has no counterpart");
    skippedAt_.insert(property);
  }

  void emitPackaged(const XmlElement* element, const std::string& property) {
    const std::string kind = kindOf(element, property);
    if (isPackage(kind)) {
      emitPackage(element, kind, false);
    } else if (classifierKinds().count(kind) != 0) {
      emitClassifier(element, kind);
    } else if (kind == "Association") {
      emitAssociation(element);
      emitCommentsWithin(element, kind);
    } else if (kind == "Dependency" || kind == "Usage" || kind == "Abstraction") {
      emitDependency(element, kind);
      emitCommentsWithin(element, kind);
    } else if (kind == "Realization" || kind == "InterfaceRealization" || kind == "Substitution") {
      emitRealization(element, refs(element, "client"), refs(element, "supplier"));
      emitCommentsWithin(element, kind);
    } else if (kind == "StateMachine") {
      emitStateMachine(element, "");
      emitCommentsWithin(element, kind);
    } else if (kind == "Comment") {
      emitComment(element);
    } else {
      report_.skip("uml:" + (kind.empty() ? property : kind), "UML 1.1 has no counterpart");
      skippedAt_.insert(element);
    }
  }

  void emitClassifier(const XmlElement* classifier, const std::string& kind) {
    const std::string metaclass = classifierKinds().at(kind);
    if (kind != metaclass) report_.deviate(kind, "read as a " + metaclass);
    const std::string id = xmiAttribute(classifier, "id");
    startElement(metaclass, classifier);
    copyAttribute(classifier, "isAbstract");
    copyAttribute(classifier, "isLeaf");
    if (kind == "Stereotype") {
      if (const auto found = extended_.find(id); found != extended_.end()) {
        std::string ids;
        for (const std::string& each : found->second) ids += (ids.empty() ? "" : " ") + each;
        out_.attribute("extendedElement", ids);
      }
    }
    std::vector<const XmlElement*> features;
    std::vector<const XmlElement*> literals;
    std::vector<const XmlElement*> owned;
    std::vector<const XmlElement*> extensionPoints;
    for (const XmlElement* child = classifier->firstChild; child; child = child->nextSibling) {
      const std::string property = local(child);
      if (inXmiSpace(child->space)) {
        readXmiPart(child);
      } else if (property == "ownedAttribute" && kind == "Stereotype") {
        report_.skip("Stereotype.ownedAttribute", "a tag's definition: its values are read");
        skippedAt_.insert(child);
      } else if (property == "ownedAttribute") {
        if (!isAssociationEnd(child)) features.push_back(child);
      } else if (property == "ownedOperation") {
        features.push_back(child);
      } else if (property == "ownedLiteral") {
        literals.push_back(child);
      } else if (property == "generalization") {
        for (const Ref& general : refs(child, "general")) {
          pending_.back().push_back(
              {"Generalization", xmiAttribute(child, "id"), id, typeId(general), child});
        }
      } else if (property == "interfaceRealization") {
        std::vector<Ref> contract = refs(child, "contract");
        if (contract.empty()) contract = refs(child, "supplier");
        for (const Ref& supplier : contract) {
          pending_.back().push_back(
              {"Realization", xmiAttribute(child, "id"), id, supplier.id, child});
        }
      } else if (property == "nestedClassifier" || property == "ownedBehavior" ||
                 property == "ownedComment" || property == "packagedElement" ||
                 property == "ownedMember") {
        owned.push_back(child);
      } else if (property == "extensionPoint") {
        extensionPoints.push_back(child);
      } else if (property == "include" || property == "extend") {
        report_.skip("uml:" + defaultKind(property), "UML 1.1 has no counterpart");
        skippedAt_.insert(child);
      } else {
        skipProperty(kind, child);
      }
    }
    // Comments on what a classifier holds (attributes, operations,
    // parameters, literals, its generalizations) are UML 1.x's comments in
    // it; what it owns as a namespace writes its own.
    for (const XmlElement* child = classifier->firstChild; child; child = child->nextSibling) {
      if (!inXmiSpace(child->space) &&
          std::find(owned.begin(), owned.end(), child) == owned.end()) {
        hoistComments(child, kind, owned);
      }
    }
    if (!features.empty()) {
      out_.start("UML:Classifier.feature");
      for (const XmlElement* feature : features) {
        if (local(feature) == "ownedOperation") {
          emitOperation(feature);
        } else {
          emitAttribute(feature);
        }
      }
      out_.end();
    }
    emitNamedElements("UML:Enumeration.literal", "EnumerationLiteral", literals);
    emitNamedElements("UML:UseCase.extensionPoint", "ExtensionPoint", extensionPoints);
    // Its state machines are its behavior, which every UML 1.x element owns
    // (a stereotype is no namespace); their comments go to its own.
    std::vector<const XmlElement*> machines;
    std::erase_if(owned, [&](const XmlElement* each) {
      if (kindOf(each, local(each)) != "StateMachine") return false;
      machines.push_back(each);
      return true;
    });
    if (!machines.empty()) {
      out_.start("UML:ModelElement.behavior");
      for (const XmlElement* machine : machines) emitStateMachine(machine, id);
      out_.end();
      for (const XmlElement* machine : machines) hoistComments(machine, "StateMachine", owned);
    }
    if (!owned.empty()) {
      out_.start("UML:Namespace.ownedElement");
      for (const XmlElement* each : owned) {
        const std::string ownedKind = kindOf(each, local(each));
        if (local(each) == "ownedComment" || ownedKind == "Comment") {
          emitComment(each);
        } else {
          emitPackaged(each, local(each));
        }
      }
      out_.end();
    }
    out_.end();
  }

  // Whether the property holds a package or classifier, which writes the
  // comments inside it itself.
  bool isNamespaceHolder(const XmlElement* property) const {
    const std::string kind = kindOf(property, local(property));
    return isPackage(kind) || classifierKinds().count(kind) != 0;
  }

  // The comments anywhere inside `element` (a property, a parameter, a
  // literal, a state), up to the packages and classifiers it holds, which
  // write theirs: UML 1.1's comments are owned by namespaces alone, so they
  // go to the namespace around, and the report says so.
  void hoistComments(const XmlElement* element, const std::string& ownerKind,
                     std::vector<const XmlElement*>& into) {
    std::vector<const XmlElement*> next{element};
    while (!next.empty()) {
      const XmlElement* at = next.back();
      next.pop_back();
      for (const XmlElement* child = at->firstChild; child; child = child->nextSibling) {
        if (inXmiSpace(child->space) || isNamespaceHolder(child)) continue;
        if (local(child) == "ownedComment") {
          const std::string owner = kindOf(at, local(at));
          report_.deviate("Comment owned by " + withArticle(owner.empty() ? ownerKind : owner),
                          "placed in the namespace around it, as UML 1.x owns comments");
          into.push_back(child);
        } else {
          next.push_back(child);
        }
      }
    }
  }

  // The comments inside an element written in a namespace's owned elements,
  // written after it there.
  void emitCommentsWithin(const XmlElement* element, const std::string& kind) {
    std::vector<const XmlElement*> comments;
    hoistComments(element, kind, comments);
    for (const XmlElement* comment : comments) emitComment(comment);
  }

  // Elements that are their id and name alone, under `property`.
  void emitNamedElements(const char* property, const char* metaclass,
                         const std::vector<const XmlElement*>& elements) {
    if (elements.empty()) return;
    out_.start(property);
    for (const XmlElement* each : elements) {
      startElement(metaclass, each);
      out_.end();
    }
    out_.end();
  }

  bool isAssociationEnd(const XmlElement* property) {
    bool present = false;
    attribute(property, "association", &present);
    const std::string id = xmiAttribute(property, "id");
    return present || (!id.empty() && ends_.count(id) != 0);
  }

  // A multiplicity as UML 1.x writes it as text, from lowerValue and
  // upperValue (or the lower and upper of early UML 2 tools); empty when
  // the document gives none.
  static std::string multiplicityOf(const XmlElement* element) {
    std::string lower;
    std::string upper;
    bool lowerGiven = false;
    bool upperGiven = false;
    lower = attribute(element, "lower", &lowerGiven);
    upper = attribute(element, "upper", &upperGiven);
    for (const XmlElement* child = element->firstChild; child; child = child->nextSibling) {
      const std::string property = local(child);
      if (property != "lowerValue" && property != "upperValue") continue;
      bool valued = false;
      std::string value = attribute(child, "value", &valued);
      if (!valued) value = "0";  // XMI leaves a literal's default out
      if (value == "-1") value = "*";
      (property == "lowerValue" ? lower : upper) = value;
      (property == "lowerValue" ? lowerGiven : upperGiven) = true;
    }
    if (!lowerGiven && !upperGiven) return {};
    if (!lowerGiven) lower = "1";
    if (!upperGiven) upper = "1";
    return lower == upper ? lower : lower + ".." + upper;
  }

  void emitMultiplicity(const XmlElement* from, const char* property) {
    const std::string multiplicity = multiplicityOf(from);
    if (multiplicity.empty()) return;
    for (const XmlElement* child = from->firstChild; child; child = child->nextSibling) {
      if (local(child) == "lowerValue" || local(child) == "upperValue") folded_.insert(child);
    }
    out_.start(property);
    out_.text(multiplicity);
    out_.end();
  }

  void emitType(const XmlElement* typed) {
    const std::vector<Ref> types = refs(typed, "type");
    if (types.empty()) return;
    if (const std::string id = typeId(types.front()); !id.empty()) out_.attribute("type", id);
  }

  void emitAttribute(const XmlElement* property) {
    startElement("Attribute", property);
    if (attribute(property, "isStatic") == "true") out_.attribute("ownerScope", "classifier");
    if (attribute(property, "isReadOnly") == "true") out_.attribute("changeability", "frozen");
    emitType(property);
    emitMultiplicity(property, "UML:StructuralFeature.multiplicity");
    for (const XmlElement* child = property->firstChild; child; child = child->nextSibling) {
      if (local(child) != "defaultValue") continue;
      folded_.insert(child);  // the attribute's initial value
      bool given = false;
      std::string value = attribute(child, "value", &given);
      if (!given) {
        for (const XmlElement* body = child->firstChild; body; body = body->nextSibling) {
          if (local(body) == "body") value = textOf(body);
        }
        if (value.empty()) value = attribute(child, "body");
      }
      out_.start("UML:Attribute.initialValue");
      out_.start("UML:Expression");
      out_.attribute("body", value);
      out_.end();
      out_.end();
    }
    out_.end();
  }

  void emitOperation(const XmlElement* operation) {
    startElement("Operation", operation);
    if (attribute(operation, "isStatic") == "true") out_.attribute("ownerScope", "classifier");
    copyAttribute(operation, "isQuery");
    std::vector<const XmlElement*> parameters;
    for (const XmlElement* child = operation->firstChild; child; child = child->nextSibling) {
      const std::string property = local(child);
      if (property == "ownedParameter" || property == "returnResult") {
        parameters.push_back(child);
      } else if (property != "type" && property != "lowerValue" && property != "upperValue" &&
                 property != "ownedComment") {  // its comments go to its classifier
        skipProperty("Operation", child);
      }
    }
    const std::vector<Ref> returned = refs(operation, "type");  // UML 2.0's Operation.type
    if (!parameters.empty() || !returned.empty()) {
      out_.start("UML:BehavioralFeature.parameter");
      bool returns = false;
      for (const XmlElement* parameter : parameters) {
        startElement("Parameter", parameter);
        std::string direction = attribute(parameter, "direction");
        if (local(parameter) == "returnResult") direction = "return";
        returns = returns || direction == "return";
        out_.attribute("kind", direction.empty() ? "in" : direction);
        emitType(parameter);
        out_.end();
      }
      if (!returns && !returned.empty()) {
        out_.start("UML:Parameter");
        out_.attribute("xmi.id", xmiAttribute(operation, "id") + ".return");
        out_.attribute("kind", "return");
        out_.attribute("type", typeId(returned.front()));
        out_.end();
      }
      out_.end();
    }
    out_.end();
  }

  void emitAssociation(const XmlElement* association) {
    std::vector<const XmlElement*> ends;
    for (const Ref& end : refs(association, "memberEnd")) {
      if (const XmlElement* found = element(end.id)) {
        ends.push_back(found);
      } else {
        report_.skip("Association.memberEnd '" + end.name.substr(0, 60) + "'",
                     "names no element of the document");
      }
    }
    std::set<const XmlElement*> ownedEnds;
    for (const XmlElement* child = association->firstChild; child; child = child->nextSibling) {
      if (local(child) == "ownedEnd") ownedEnds.insert(child);
    }
    if (ends.empty()) ends.assign(ownedEnds.begin(), ownedEnds.end());
    std::set<std::string> navigable;
    for (const Ref& end : refs(association, "navigableOwnedEnd")) navigable.insert(end.id);
    startElement("Association", association);
    out_.start("UML:Association.connection");
    for (std::size_t i = 0; i < ends.size(); ++i) {
      const XmlElement* end = ends[i];
      startElement("AssociationEnd", end);
      // UML 2 marks the whole's end property typed by the part; UML 1.x
      // marks the end at the whole.
      const XmlElement* other = ends.size() == 2 ? ends[1 - i] : nullptr;
      std::string aggregation = other ? attribute(other, "aggregation") : "";
      if (aggregation == "shared") aggregation = "aggregate";  // UML 1.x's name
      out_.attribute("aggregation", aggregation.empty() ? "none" : aggregation);
      const bool ownedByAssociation = ownedEnds.count(end) != 0;
      const bool isNavigable = !ownedByAssociation ||
                               navigable.count(xmiAttribute(end, "id")) != 0 ||
                               attribute(end, "isNavigable") == "true";
      out_.attribute("isNavigable", isNavigable ? "true" : "false");
      if (attribute(end, "isOrdered") == "true") out_.attribute("ordering", "ordered");
      const std::vector<Ref> types = refs(end, "type");
      if (!types.empty()) out_.attribute("participant", typeId(types.front()));
      emitMultiplicity(end, "UML:AssociationEnd.multiplicity");
      out_.end();
    }
    out_.end();
    out_.end();
  }

  void emitDependency(const XmlElement* dependency, const std::string& kind) {
    startElement(kind, dependency);
    const std::string clients = idsOf(refs(dependency, "client"));
    const std::string suppliers = idsOf(refs(dependency, "supplier"));
    if (!clients.empty()) out_.attribute("client", clients);
    if (!suppliers.empty()) out_.attribute("supplier", suppliers);
    out_.end();
  }

  // A realization is UML 1.x's Abstraction «realize».
  void emitRealization(const XmlElement* from, const std::vector<Ref>& clients,
                       const std::vector<Ref>& suppliers) {
    startElement("Abstraction", from);
    const std::string client = idsOf(clients);
    const std::string supplier = idsOf(suppliers);
    if (!client.empty()) out_.attribute("client", client);
    if (!supplier.empty()) out_.attribute("supplier", supplier);
    out_.attribute("stereotype", realizeStereotype());
    out_.end();
  }

  // «realize»: the document's own stereotype of that name (as an export of
  // a model read so writes it), else one made for the reading.
  std::string realizeStereotype() {
    realizes_ = true;
    if (realizeId_.empty()) {
      realizeId_ = "qovix.stereotype.realize";
      for (const auto& [id, defined] : byId_) {
        if (kindOf(defined, "") == "Stereotype" && attribute(defined, "name") == "realize") {
          realizeId_ = id;
          break;
        }
      }
    }
    return realizeId_;
  }

  void emitComment(const XmlElement* comment) {
    startElement("Comment", comment);
    bool given = false;
    std::string body = attribute(comment, "body", &given);
    for (const XmlElement* child = comment->firstChild; child; child = child->nextSibling) {
      if (local(child) == "body") {
        body = textOf(child);
        given = true;
      } else if (local(child) == "annotatedElement") {
        report_.skip("Comment.annotatedElement", "UML 1.1 has no such feature");
      }
    }
    if (!attribute(comment, "annotatedElement").empty()) {
      report_.skip("Comment.annotatedElement", "UML 1.1 has no such feature");
    }
    if (given) out_.attribute("body", body);
    out_.end();
  }

  // Relations a classifier gives, written in its package.
  struct Pending {
    std::string kind;  // Generalization or Realization
    std::string id, client, supplier;
    const XmlElement* from = nullptr;  // the document's element
  };

  void emitPending() {
    for (const Pending& each : pending_.back()) {
      if (each.supplier.empty()) {
        report_.skip(each.kind, "names no element of the document");
        skippedAt_.insert(each.from);
        continue;
      }
      emitted_.insert(each.from);
      if (each.kind == "Generalization") {
        out_.start("UML:Generalization");
        if (!each.id.empty()) out_.attribute("xmi.id", each.id);
        out_.attribute("child", each.client);
        out_.attribute("parent", each.supplier);
        out_.end();
      } else {
        out_.start("UML:Abstraction");
        if (!each.id.empty()) out_.attribute("xmi.id", each.id);
        out_.attribute("client", each.client);
        out_.attribute("supplier", each.supplier);
        out_.attribute("stereotype", realizeStereotype());
        out_.end();
      }
    }
    pending_.pop_back();
  }

  // What the model needs besides the document's own elements: the data
  // types it refers to outside, and the stereotype «realize».
  void emitExtras() {
    for (const auto& [name, id] : externalTypes_) {
      out_.start("UML:DataType");
      out_.attribute("xmi.id", id);
      out_.attribute("name", name);
      out_.end();
    }
    if (realizes_ && realizeId_ == "qovix.stereotype.realize") {
      out_.start("UML:Stereotype");
      out_.attribute("xmi.id", "qovix.stereotype.realize");
      out_.attribute("name", "realize");
      out_.end();
    }
  }

  // The tagged values of applied stereotypes, beside the model: each names
  // its element.
  void emitTags() {
    std::size_t number = 0;
    for (const Tag& tag : tags_) {
      out_.start("UML:TaggedValue");
      out_.attribute("xmi.id", "qovix.tag." + std::to_string(++number));
      out_.attribute("tag", tag.name);
      out_.attribute("modelElement", tag.element);
      out_.start("UML:TaggedValue.dataValue");
      out_.text(tag.value);
      out_.end();
      out_.end();
    }
  }

  // State machines: a UML 2 region has no UML 1.1 counterpart; a region's
  // vertices are its state's (or the machine's top state's) substates.
  void emitStateMachine(const XmlElement* machine, const std::string& context) {
    startElement("StateMachine", machine);
    if (!context.empty()) out_.attribute("context", context);
    std::vector<const XmlElement*> transitions;
    out_.start("UML:StateMachine.top");
    out_.start("UML:CompositeState");
    out_.attribute("xmi.id", xmiAttribute(machine, "id") + ".top");
    out_.attribute("name", "top");
    emitRegions(machine, transitions);
    out_.end();
    out_.end();
    if (!transitions.empty()) {
      out_.start("UML:StateMachine.transitions");
      for (const XmlElement* transition : transitions) emitTransition(transition);
      out_.end();
    }
    out_.end();
  }

  static bool isVertexKind(const std::string& kind) {
    return kind == "State" || kind == "Pseudostate" || kind == "FinalState";
  }

  // A machine's or a state's regions: under `region`, or as some tools
  // write them, any property whose element is a uml:Region (ownedMember).
  std::vector<const XmlElement*> regionsOf(const XmlElement* owner) const {
    std::vector<const XmlElement*> regions;
    for (const XmlElement* child = owner->firstChild; child; child = child->nextSibling) {
      if (!inXmiSpace(child->space) && kindOf(child, local(child)) == "Region") {
        regions.push_back(child);
      }
    }
    return regions;
  }

  // The substates of what holds the regions, and the transitions in them:
  // a region's vertices and transitions by their kind, whatever property
  // holds them (subvertex and transition, or ownedMember).
  void emitRegions(const XmlElement* owner, std::vector<const XmlElement*>& transitions) {
    const std::vector<const XmlElement*> regions = regionsOf(owner);
    if (regions.size() > 1) out_.attribute("isConcurrent", "true");
    if (regions.empty()) return;
    report_.deviate("Region", "flattened into the state that holds it",
                    static_cast<int>(regions.size()));
    folded_.insert(regions.begin(), regions.end());
    out_.start("UML:CompositeState.subvertex");
    for (const XmlElement* region : regions) {
      for (const XmlElement* child = region->firstChild; child; child = child->nextSibling) {
        if (inXmiSpace(child->space)) continue;
        const std::string kind = kindOf(child, local(child) == "subvertex" ? "" : local(child));
        if (local(child) == "subvertex" || isVertexKind(kind)) {
          emitVertex(child, transitions);
        } else if (kind == "Transition") {
          transitions.push_back(child);
        } else if (kind != "Comment") {
          report_.skip("Region." + local(child), "UML 1.1 has no counterpart");
          skippedAt_.insert(child);
        }
      }
    }
    out_.end();
  }

  void emitVertex(const XmlElement* vertex, std::vector<const XmlElement*>& transitions) {
    const std::string kind = kindOf(vertex, "subvertex");
    if (kind == "Pseudostate") {
      startElement("Pseudostate", vertex);
      const std::string pseudo = attribute(vertex, "kind");
      out_.attribute("kind", pseudo.empty() ? "initial" : pseudo);
    } else if (kind == "FinalState") {
      startElement("FinalState", vertex);
    } else if (kind == "State") {
      const bool composite = !regionsOf(vertex).empty();
      startElement(composite ? "CompositeState" : "SimpleState", vertex);
      for (const XmlElement* child = vertex->firstChild; child; child = child->nextSibling) {
        const std::string property = local(child);
        if (property == "entry" || property == "exit" || property == "doActivity") {
          report_.skip("State." + property, "a UML 2 behavior, no UML 1.1 action");
          skippedAt_.insert(child);
        }
      }
      if (composite) emitRegions(vertex, transitions);
    } else {
      report_.skip("uml:" + kind, "UML 1.1 has no counterpart");
      skippedAt_.insert(vertex);
      return;
    }
    out_.end();
  }

  void emitTransition(const XmlElement* transition) {
    startElement("Transition", transition);
    const std::string source = idsOf(refs(transition, "source"));
    const std::string target = idsOf(refs(transition, "target"));
    if (!source.empty()) out_.attribute("source", source);
    if (!target.empty()) out_.attribute("target", target);
    for (const XmlElement* child = transition->firstChild; child; child = child->nextSibling) {
      const std::string property = local(child);
      if (property == "effect" || property == "guard" || property == "trigger") {
        report_.skip("Transition." + property, "a UML 2 behavior or constraint, not read");
        skippedAt_.insert(child);
      }
    }
    out_.end();
  }

  struct Tag {
    std::string element, name, value;
  };

  const XmlElement* root_;
  ImportReport& report_;
  XmlWriter out_;
  std::string exporter_;
  std::map<std::string, const XmlElement*> byId_;
  std::vector<const XmlElement*> applications_;
  std::map<std::string, std::vector<std::string>> extended_;  // stereotype id -> elements
  std::vector<Tag> tags_;
  std::map<std::string, std::string> externalTypes_;  // name -> id
  std::set<std::string> ends_;                        // association ends' ids
  std::vector<std::vector<Pending>> pending_;
  bool realizes_ = false;
  // The document's elements the translation wrote, read into another, or
  // skipped with a word in the report.
  std::unordered_set<const XmlElement*> emitted_, folded_, skippedAt_;
  std::string realizeId_;  // the stereotype «realize», once asked for

 private:
  // The document's elements (those with an xmi:id or a type, not references
  // and not XMI's own) by metaclass as the document names them, and what
  // became of each: written into the UML 1.4 model, read into another
  // (bounds, default values, regions, stereotype applications), or skipped.
  // One the translation passed over without a word is skipped and named
  // here, so that nothing is lost silently.
  void countElements() {
    struct Step {
      const XmlElement* element;
      const XmlElement* owner;  // the nearest element of the model around it
      bool skipped;             // inside a skipped element
    };
    std::vector<Step> next{{root_, nullptr, false}};
    int inside = 0;
    while (!next.empty()) {
      const Step at = next.back();
      next.pop_back();
      const XmlElement* element = at.element;
      bool skipped = at.skipped;
      const XmlElement* owner = at.owner;
      if (isHeld(element)) {
        const std::string type = typeOf(element);
        ++report_.held[type.empty() ? local(element) : type.substr(type.find(':') + 1)];
        // An element written (a comment inside a skipped constraint goes to
        // the namespace around) is read, whatever holds it.
        if (emitted_.count(element) != 0) {
          ++report_.readAsObjects;
        } else if (folded_.count(element) != 0) {
          ++report_.readInto;
        } else if (skipped) {
          ++report_.skippedElements;
          ++inside;
        } else {
          ++report_.skippedElements;
          skipped = true;
          if (skippedAt_.count(element) == 0) {
            report_.skip("uml:" + kindOf(element, local(element)) + " in " +
                             (owner != nullptr ? withArticle(kindOf(owner, local(owner))) + "'s "
                                               : std::string()) +
                             local(element),
                         "not read");
          }
        }
        owner = element;
      }
      for (const XmlElement* child = element->firstChild; child; child = child->nextSibling) {
        if (!inXmiSpace(child->space)) next.push_back({child, owner, skipped});
      }
    }
    if (inside > 0)
      report_.skip("elements inside skipped elements", "what a skipped element holds", inside);
  }

  // An element of the model: one with an xmi:id, an xmi:type or an
  // xsi:type, and no reference (xmi:idref, href).
  bool isHeld(const XmlElement* element) const {
    if (inXmiSpace(element->space)) return false;
    if (!xmiAttribute(element, "idref").empty() || attributeText(element, "href") != nullptr) {
      return false;
    }
    return !xmiAttribute(element, "id").empty() || !typeOf(element).empty();
  }

  // Every property an association names as its end (memberEnd), so that a
  // classifier's ownedAttribute among them is written with the association.
  void findEnds() {
    for (const auto& [id, each] : byId_) {
      if (kindOf(each, "") != "Association") continue;
      for (const Ref& end : refs(each, "memberEnd")) {
        if (!end.id.empty()) ends_.insert(end.id);  // a property outside the document is none
      }
    }
  }
};

}  // namespace

bool isUml2Document(const XmlElement* root) {
  if (root == nullptr) return false;
  if (inUmlSpace(root->space)) return true;
  return std::string_view(root->name) == "XMI" && inXmiSpace(root->space);
}

std::string uml14Of(const XmlElement* root, ImportReport& report, std::string& format) {
  Translator translator(root, report);
  return translator.translate(format);
}

}  // namespace model::xmi
