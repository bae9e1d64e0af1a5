#include "platform/xmi/xmi_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model_classes.h"
#include "platform/qovix_srv/operations.h"
#include "platform/xmi/model_archive.h"
#include "platform/xmi/uml2_reading.h"
#include "platform/xmi/xmi_names.h"
#include "platform/xmi/xml_document.h"
#include "values/utf.h"

namespace model::xmi {
namespace {

// The tag a report names the import by, on the imported package.
constexpr char16_t kReportTag[] = u"qovix.import";

std::string lastSegment(const std::string& tag) { return tag.substr(tag.rfind('.') + 1); }

// XMI names metaclasses (Foundation.Core.Class, UML:Class) with a capital
// and properties (Foundation.Core.ModelElement.name) after their owner.
bool isMetaclassTag(const std::string& tag) {
  const std::string last = lastSegment(tag);
  return !last.empty() && last[0] >= 'A' && last[0] <= 'Z';
}

std::pair<std::string, std::string> propertyParts(const std::string& tag) {
  const std::size_t dot = tag.rfind('.');
  if (dot == std::string::npos || dot == 0) return {"", tag.substr(dot + 1)};
  const std::size_t before = tag.rfind('.', dot - 1);
  const std::size_t start = before == std::string::npos ? 0 : before + 1;
  return {tag.substr(start, dot - start), tag.substr(dot + 1)};
}

bool endsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string className(ClassId id) { return std::string(classInfo(id).name).substr(5); }

// The metaclass an element names, as the document holds it: Class for
// Foundation.Core.Class and for UML:Class.
std::string_view metaclassOf(const XmlElement* element) {
  const std::string_view name = element->name;
  const std::size_t cut = name.find_last_of(".:");
  return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

enum class Role { Object, Realization, TagDefinition, ExtensionPoint, Skipped };

struct Node {
  const XmlElement* element;
  std::string_view metaclass;  // as the document names it, without package or prefix
  Role role;
  ClassId classId = 0;
  ObjectId object = 0;
  bool topLevel = false;
};

class Reader {
 public:
  Reader(PersistentStore& store, std::string name, ImportReport& report)
      : store_(store), name_(std::move(name)), report_(report) {}

  ObjectId read(const XmlDocument& document) {
    const XmlElement* root = document.root();
    if (root == nullptr || localName(root) != "XMI")
      fail("is no XMI document: its root is no <XMI>");
    readHeader(root, document);
    const XmlElement* content = nullptr;
    for (const XmlElement* child : elementsIn(root)) {
      const std::string tag = localName(child);
      if (tag == "XMI.content") {
        content = child;
      } else if (tag.rfind("XMI.extension", 0) == 0) {
        skipExtension(child);  // XMI.extension, or XMI.extensions as some tools write it
      } else if (tag != "XMI.header") {
        skip(tag, "not part of the model");
      }
    }
    if (content == nullptr) fail("has no <XMI.content>");
    collectContent(content);
    if (std::none_of(nodes_.begin(), nodes_.end(),
                     [](const Node& node) { return node.role == Role::Object; })) {
      fail("holds no element of a UML model");
    }
    decideClasses();
    createObjects();
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      if (nodes_[i].role == Role::Object || nodes_[i].role == Role::Realization) applyProperties(i);
    }
    applyNested();
    applyRealizations();
    completeOppositeEnds();
    const ObjectId package = placeInPackage();
    attachReport(package);
    return package;
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("XMI document '" + name_ + "' " + why);
  }
  [[noreturn]] void failAt(const XmlElement* element, const std::string& why) const {
    throw std::runtime_error("XMI document '" + name_ + "' line " + std::to_string(element->line) +
                             ": " + why);
  }
  void skip(const std::string& what, const std::string& why, int count = 1) {
    report_.skip(what, why, count);
  }
  // A reference to an element the document does not hold, as a partial
  // export writes: the link is left out.
  void dangling(const std::string& where, const std::string& id) {
    skip(where + " '" + id.substr(0, 60) + "'", "names no element of the document");
  }

  void readHeader(const XmlElement* root, const XmlDocument& document) {
    bool versioned = false;
    std::string version = attribute(root, "xmi.version", &versioned);
    if (versioned && version != "1.0" && version != "1.1" && version != "1.2") {
      failAt(root, "is XMI '" + version.substr(0, 20) + "': XMI 1.0, 1.1 and 1.2 are read" +
                       (version.rfind('2', 0) == 0 ? ", and XMI 2.x in the XMI namespace" : ""));
    }
    if (!versioned) {
      version = "1.0";
      report_.deviate("<XMI>", "no xmi.version, as the drafts before XMI 1.0: read as XMI 1.0");
    }
    if (const std::size_t capitalised = document.capitalisedXmiAttributes()) {
      report_.deviate("XMI.id, XMI.idref and the like",
                      "capitalised, as the drafts before XMI 1.0: read as xmi.id",
                      static_cast<int>(capitalised));
    }
    std::string uml = version == "1.2" ? "1.4" : "1.3";
    for (const XmlElement* part : elementsIn(root)) {
      if (localName(part) != "XMI.header") continue;
      for (const XmlElement* item : elementsIn(part)) {
        if (localName(item) == "XMI.metamodel") readMetamodel(item, versioned, uml);
        if (localName(item) != "XMI.documentation") continue;
        for (const XmlElement* line : elementsIn(item)) {
          if (localName(line) == "XMI.exporter") report_.exporter = textOf(line) + report_.exporter;
          if (localName(line) == "XMI.exporterVersion")
            report_.exporter.append(" ").append(textOf(line));
        }
      }
    }
    report_.format = std::string("XMI ").append(version).append(", UML ").append(uml);
  }

  // The metamodel the header names must be UML; a draft's, a UML the
  // catalogue's names are clear for (1.1 to 1.4).
  void readMetamodel(const XmlElement* item, bool versioned, std::string& uml) const {
    std::string name = attribute(item, "xmi.name");
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (name != "UML") {
      failAt(item, "is a document of the metamodel '" + attribute(item, "xmi.name").substr(0, 40) +
                       "': UML models are read");
    }
    bool given = false;
    const std::string version = attribute(item, "xmi.version", &given);
    if (!given) return;
    if (!versioned && version != "1.1" && version != "1.3" && version != "1.4") {
      failAt(item, "is a draft XMI document of UML '" + version.substr(0, 20) +
                       "': of the drafts, UML 1.1 to 1.4 are read, whose names are known");
    }
    uml = version;
  }

  // Collecting: every object definition becomes a node ----------------------

  void collectContent(const XmlElement* content) {
    for (const XmlElement* child : elementsIn(content)) {
      const std::string tag = localName(child);
      if (tag == "XMI.extension") {
        skipExtension(child);
      } else if (isMetaclassTag(tag)) {
        define(child, true, false);
      } else {
        skip(tag, "a property outside any element");
      }
    }
  }

  void skipExtension(const XmlElement* extension) {
    const std::string extender = attribute(extension, "xmi.extender");
    skip(extender.empty() ? std::string("XMI.extension")
                          : std::string("XMI.extension (").append(extender).append(")"),
         "a tool's own data, not part of the model");
  }

  bool isReference(const XmlElement* element) const {
    bool idref = false;
    bool href = false;
    attribute(element, "xmi.idref", &idref);
    attribute(element, "href", &href);
    return idref || href;
  }

  // How many object definitions `element` holds below it.
  static int nestedDefinitions(const XmlElement* element) {
    int count = 0;
    for (const XmlElement* child : elementsIn(element)) {
      if (isMetaclassTag(localName(child)) && !hasAttribute(child, "xmi.idref") &&
          !hasAttribute(child, "href")) {
        ++count;
      }
      count += nestedDefinitions(child);
    }
    return count;
  }

  void define(const XmlElement* element, bool topLevel, bool ours) {
    if (isReference(element)) {
      if (topLevel) skip(localName(element), "a reference outside any element");
      return;
    }
    if (nodes_.size() >= kMostXmiElements) {
      fail("holds more than " + std::to_string(kMostXmiElements) + " elements");
    }
    const std::string metaclass = lastSegment(localName(element));
    if (endsWith(metaclass, "Expression")) {
      if (topLevel) skip(metaclass, "an expression outside any element");
      return;  // a value of the property around it
    }
    Node node{element, metaclassOf(element), Role::Object};
    node.topLevel = topLevel;
    bool descend = true;
    if (metaclass == "Diagram" && !ours) {
      skip("Diagram", "diagrams are drawings, not part of the model");
      if (const int inside = nestedDefinitions(element))
        skip("diagram elements", "inside a Diagram", inside);
      return;
    } else if (metaclass == "TagDefinition") {
      node.role = Role::TagDefinition;
      skip("TagDefinition", "its name is the tag of the tagged values of its type");
      descend = false;
    } else if (metaclass == "ExtensionPoint") {
      node.role = Role::ExtensionPoint;
      descend = false;
    } else if ((node.classId = classForMetaclass(metaclass)) == 0) {
      node.role = Role::Skipped;
      skip(metaclass, "UML 1.1 has no such metaclass");
      if (const int inside = nestedDefinitions(element)) {
        skip("elements inside a " + metaclass, "what a skipped element holds", inside);
      }
      descend = false;
    }
    const char* idText = attributeText(element, "xmi.id");
    const bool identified = idText != nullptr;
    const std::string_view id = identified ? std::string_view(idText) : std::string_view();
    if (identified) {
      if (const auto first = byId_.find(id); first != byId_.end()) {
        defineAgain(element, first->second, metaclass);
        return;
      }
      if (std::any_of(id.begin(), id.end(), [](unsigned char c) { return std::isspace(c); })) {
        ++spacedIds_;
        report_.deviate("xmi.id holding spaces",
                        "a reference that is exactly one is read as that one", 1);
      }
    }
    nodes_.push_back(node);
    const std::size_t self = nodes_.size() - 1;
    element->reading = static_cast<std::uint32_t>(self);
    if (identified) byId_.emplace(id, self);
    if (!descend) return;
    for (const XmlElement* child : elementsIn(element)) {
      const std::string tag = localName(child);
      if (tag == "XMI.extension") {
        if (attribute(child, "xmi.extender") != "QOVIX") {
          skipExtension(child);
          continue;
        }
        for (const XmlElement* property : elementsIn(child)) definePropertyValues(property, true);
      } else if (isMetaclassTag(tag)) {
        defineNested(self, child, ours);
      } else {
        definePropertyValues(child, ours);
      }
    }
  }

  // An element defined again under an id in use: the first stands, and
  // whatever refers to the second refers to it.
  void defineAgain(const XmlElement* element, std::size_t first, const std::string& metaclass) {
    element->reading = static_cast<std::uint32_t>(first);
    if (sameDefinition(nodes_[first].element, element)) {
      report_.deviate(metaclass + " defined again, identically, under its xmi.id", "read once");
    } else {
      skip(metaclass + " under an xmi.id in use",
           "differs from the element defined first, which is kept");
    }
  }

  static bool sameDefinition(const XmlElement* a, const XmlElement* b) {
    if (a->name != b->name || a->space != b->space || a->text != b->text ||
        a->attributeCount != b->attributeCount) {
      return false;
    }
    for (std::size_t i = 0; i < a->attributeCount; ++i) {
      const XmlAttribute& x = a->attributes[i];
      const XmlAttribute& y = b->attributes[i];
      if (std::strcmp(x.name, y.name) != 0 || std::strcmp(x.value, y.value) != 0 ||
          x.space != y.space) {
        return false;
      }
    }
    const XmlElement* x = a->firstChild;
    const XmlElement* y = b->firstChild;
    for (; x != nullptr && y != nullptr; x = x->nextSibling, y = y->nextSibling) {
      if (!sameDefinition(x, y)) return false;
    }
    return x == nullptr && y == nullptr;
  }

  // An element written directly inside its owner, outside any property (as
  // some tools write an enumeration's literals): it goes into the owner's
  // composite feature for its kind, the most specific one (a class's
  // attribute is its feature, not its owned element); with none, or no one
  // most specific, it is skipped.
  void defineNested(std::size_t owner, const XmlElement* child, bool ours) {
    const std::string metaclass = lastSegment(localName(child));
    const ClassId childClass = classForMetaclass(metaclass);
    std::vector<const FeatureInfo*> candidates;
    if (childClass != 0 && nodes_[owner].role == Role::Object) {
      for (const FeatureInfo& feature : modelFeatures()) {
        if (feature.owns && feature.owner != 0 &&
            conformsTo(nodes_[owner].classId, feature.owner) &&
            conformsTo(childClass, feature.elementClass)) {
          candidates.push_back(&feature);
        }
      }
    }
    FeatureId found = 0;
    for (const FeatureInfo* each : candidates) {
      if (std::all_of(candidates.begin(), candidates.end(), [&](const FeatureInfo* other) {
            return conformsTo(each->elementClass, other->elementClass);
          })) {
        found = found == 0 ? each->id : FeatureId{0};
        if (found == 0) break;
      }
    }
    if (found == 0 || isReference(child)) {
      skip(metaclass + " directly inside a " + std::string(nodes_[owner].metaclass),
           "outside any property, and no one feature of its owner holds it");
      return;
    }
    define(child, false, ours);
    if (child->reading == kUnread) return;
    nested_.push_back({owner, child->reading, found});
    report_.deviate(metaclass + " directly inside a " + std::string(nodes_[owner].metaclass),
                    std::string("outside any property: read as its ") + featureInfo(found).name);
  }

  // Links each element written directly inside its owner.
  void applyNested() {
    for (const auto& [owner, child, feature] : nested_) {
      const Node& from = nodes_[owner];
      const Node& to = nodes_[child];
      if (to.role != Role::Object) continue;
      const FeatureInfo& info = featureInfo(feature);
      if (info.kind == FeatureKind::Single || info.kind == FeatureKind::ReadOnly) {
        if (store_.reference(from.object, feature) != 0) continue;
        store_.setReference(from.object, feature, to.object);
      } else if (!store_.appendMember(from.object, feature, to.object)) {
        continue;
      }
      links_.emplace_back(from.object, feature, to.object);
    }
  }

  void definePropertyValues(const XmlElement* property, bool ours) {
    for (const XmlElement* child : elementsIn(property)) {
      if (isMetaclassTag(localName(child))) define(child, false, ours);
    }
  }

  // Classes -----------------------------------------------------------------

  std::string nameOf(const Node& node) const {
    bool present = false;
    std::string name = attribute(node.element, "name", &present);
    if (present) return name;
    for (const XmlElement* child : elementsIn(node.element)) {
      if (!isMetaclassTag(localName(child)) && propertyParts(localName(child)).second == "name") {
        return textOf(child);
      }
    }
    return {};
  }

  // The ids an attribute's value names: the value itself when it is exactly
  // an id (some tools' ids hold spaces), else each word of it. In a
  // document whose ids hold spaces, a value whose words are not all ids is
  // one id too, of an element the document does not hold.
  std::vector<std::string> idsIn(const std::string& text) const {
    if (byId_.count(text) != 0) return {text};
    std::vector<std::string> ids;
    std::istringstream words(text);
    bool allFound = true;
    for (std::string id; words >> id;) {
      allFound = allFound && byId_.count(id) != 0;
      ids.push_back(std::move(id));
    }
    if (!allFound && spacedIds_ > 0 && ids.size() > 1) return {text};
    return ids;
  }

  // The nodes a property of `element` names: as an attribute of idrefs, or
  // as elements inside it, defined there or referred to.
  std::vector<std::size_t> targetsOf(const XmlElement* element, const std::string& name) {
    std::vector<std::size_t> found;
    bool present = false;
    const std::string ids = attribute(element, name.c_str(), &present);
    if (present) {
      for (const std::string& id : idsIn(ids)) {
        if (const auto at = byId_.find(id); at != byId_.end()) found.push_back(at->second);
      }
    }
    for (const XmlElement* child : elementsIn(element)) {
      if (isMetaclassTag(localName(child)) || propertyParts(localName(child)).second != name)
        continue;
      for (const XmlElement* target : elementsIn(child)) {
        if (const auto index = resolve(target, false)) found.push_back(*index);
      }
    }
    return found;
  }

  // The node an element inside a property stands for; nothing for a
  // reference outside the document (reported) or a value.
  std::optional<std::size_t> resolve(const XmlElement* target, bool report) {
    bool idref = false;
    bool href = false;
    const std::string id = attribute(target, "xmi.idref", &idref);
    const std::string link = attribute(target, "href", &href);
    if (idref || href) {
      std::string wanted = id;
      if (!idref) {
        const std::size_t hash = link.find('#');
        const std::string file = hash == std::string::npos ? link : link.substr(0, hash);
        if (hash == std::string::npos || (!file.empty() && file != name_)) {
          if (report) skip("href=\"" + file + "#...\"", "refers outside the document");
          return std::nullopt;
        }
        wanted = link.substr(hash + 1);
      }
      const auto found = byId_.find(wanted);
      if (found == byId_.end()) {
        if (report) dangling("<" + localName(target) + " xmi.idref>", wanted);
        return std::nullopt;
      }
      return found->second;
    }
    if (target->reading == kUnread) return std::nullopt;
    return target->reading;
  }

  // UML 1.3 replaced 1.1's Refinement and Trace, and the realization of a
  // classifier, by one Abstraction told apart by its stereotype.
  void decideClasses() {
    std::map<std::size_t, std::set<std::string>> stereotypes;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      if (nodes_[i].classId != QOVIXStereotype::kClassId) continue;
      for (std::size_t extended : targetsOf(nodes_[i].element, "extendedElement")) {
        stereotypes[extended].insert(nameOf(nodes_[i]));
      }
    }
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      Node& node = nodes_[i];
      if (node.metaclass != "Abstraction" || node.role != Role::Object) continue;
      std::set<std::string> names = stereotypes[i];
      for (std::size_t stereotype : targetsOf(node.element, "stereotype")) {
        names.insert(nameOf(nodes_[stereotype]));
      }
      if (names.count("realize") != 0) {
        node.role = Role::Realization;
      } else if (names.count("trace") != 0) {
        node.classId = QOVIXTrace::kClassId;
      }
    }
  }

  void createObjects() {
    for (Node& node : nodes_) {
      if (node.role != Role::Object) continue;
      node.object = store_.create(node.classId);
      ++report_.imported[className(node.classId)];
      if (node.metaclass == "FinalState") {
        store_.setValue(node.object, feature::QOVIXPseudostate_kind,
                        StoredValue{QOVIXPseudostateKind::kValueClassId,
                                    *literalFor(QOVIXPseudostateKind::kValueClassId, "final"),
                                    {}});
      }
    }
  }

  // Properties --------------------------------------------------------------

  void applyProperties(std::size_t index) {
    const Node& node = nodes_[index];
    for (std::size_t i = 0; i < node.element->attributeCount; ++i) {
      const XmlAttribute& each = node.element->attributes[i];
      const std::string name = each.name;
      if (name.rfind("xmi.", 0) == 0 || name == "href") continue;
      applyProperty(index, "", name, std::string(each.value), nullptr);
    }
    for (const XmlElement* child : elementsIn(node.element)) {
      if (localName(child) == "XMI.extension") {
        if (attribute(child, "xmi.extender") != "QOVIX") continue;
        for (const XmlElement* property : elementsIn(child)) applyElementProperty(index, property);
      } else if (!isMetaclassTag(localName(child))) {
        applyElementProperty(index, child);
      }
    }
  }

  void applyElementProperty(std::size_t index, const XmlElement* property) {
    const auto [owner, name] = propertyParts(localName(property));
    applyProperty(index, owner, name, {}, property);
  }

  // A property given as the attribute text `text` or as the element `property`.
  void applyProperty(std::size_t index, const std::string& owner, const std::string& name,
                     const std::string& text, const XmlElement* property) {
    const Node& node = nodes_[index];
    const std::string shown = (owner.empty() ? std::string(node.metaclass) : owner) + "." + name;
    if (node.role == Role::Realization) return;  // its client and supplier are read later
    if (node.classId == QOVIXTaggedValue::kClassId && name == "type") {
      tagFromDefinition(index, text, property, shown);
      return;
    }
    const FeatureId feature = featureFor(node.classId, owner, name);
    if (feature == 0) {
      skip(shown, "UML 1.1 has no such feature");
      return;
    }
    const FeatureInfo& info = featureInfo(feature);
    switch (info.kind) {
      case FeatureKind::Attribute:
      case FeatureKind::Hidden:
        applyValue(node, info, property ? valueText(property) : text, shown);
        break;
      case FeatureKind::Values:
        applyValues(node, info, text, property);
        break;
      default:
        applyLinks(node, info, text, property, shown);
        break;
    }
  }

  // featureForProperty, asked once per class and property name.
  FeatureId featureFor(ClassId classId, const std::string& owner, const std::string& name) {
    const auto key = std::make_tuple(classId, owner, name);
    if (const auto found = features_.find(key); found != features_.end()) return found->second;
    return features_[key] = featureForProperty(classId, owner, name);
  }

  // A value property's text: its xmi.value, the body of the expression
  // inside it, or its text.
  std::string valueText(const XmlElement* property) const {
    bool present = false;
    const std::string value = attribute(property, "xmi.value", &present);
    if (present) return value;
    for (const XmlElement* child : elementsIn(property)) {
      if (!endsWith(lastSegment(localName(child)), "Expression")) continue;
      const std::string body = attribute(child, "body", &present);
      if (present) return body;
      for (const XmlElement* part : elementsIn(child)) {
        if (propertyParts(localName(part)).second == "body") return textOf(part);
      }
      return {};
    }
    return textOf(property);
  }

  std::optional<StoredValue> parseValue(const Node& node, const FeatureInfo& info,
                                        const std::string& text) const {
    const ValueClassInfo* valueClass = valueClassInfo(info.valueClass);
    if (valueClass == nullptr) return std::nullopt;
    if (valueClass->payload == ValuePayload::Text) {
      std::u16string units = utf::toUtf16(text);
      if (units.size() > utf::kMostTextUnits) {
        const std::string id = attribute(node.element, "xmi.id");
        failAt(node.element,
               std::string("the ") + info.name + " of " + std::string(node.metaclass) +
                   (id.empty() ? "" : " '" + id.substr(0, 80) + "'") + " holds " +
                   std::to_string(units.size()) + " UTF-16 units; a value holds at most " +
                   std::to_string(utf::kMostTextUnits));
      }
      return StoredValue{info.valueClass, 0, std::move(units)};
    }
    std::int32_t number = 0;
    if (info.id == feature::QOVIXAssociationEnd_isOrdered) {
      // UML 1.3 and 1.4 write an end's ordering.
      if (text == "ordered" || text == "sorted" || text == "true")
        return StoredValue{info.valueClass, 1, {}};
      if (text == "unordered" || text == "false") return StoredValue{info.valueClass, 0, {}};
      return std::nullopt;
    }
    if (hasLiterals(info.valueClass)) {
      const auto ordinal = literalFor(info.valueClass, text);
      if (!ordinal) return std::nullopt;
      number = *ordinal;
    } else if (text == "*") {
      number = -1;  // an unlimited upper bound
    } else {
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
      if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    }
    if (!takesPayload(*valueClass, number, {})) return std::nullopt;
    return StoredValue{info.valueClass, number, {}};
  }

  void applyValue(const Node& node, const FeatureInfo& info, const std::string& text,
                  const std::string& shown) {
    if (store_.value(node.object, info.id)) {
      skip(shown, "given twice: the first is kept");
      return;
    }
    const auto value = parseValue(node, info, text);
    if (!value) {
      skip(shown, std::string("'")
                      .append(text.substr(0, 40))
                      .append("' is no ")
                      .append(valueClassInfo(info.valueClass)->name));
      return;
    }
    store_.setValue(node.object, info.id, *value);
  }

  // A list of values: the text of each property element, or of each
  // ExtensionPoint inside it (UML 1.4 made extension points elements).
  void applyValues(const Node& node, const FeatureInfo& info, const std::string& text,
                   const XmlElement* property) {
    std::vector<StoredValue> values = store_.values(node.object, info.id);
    auto add = [&](const std::string& each) {
      if (auto value = parseValue(node, info, each)) values.push_back(std::move(*value));
    };
    if (property == nullptr) {
      add(text);
    } else if (const auto inside = elementsIn(property); inside.empty()) {
      add(textOf(property));
    } else {
      for (const XmlElement* child : inside) {
        const auto target = resolve(child, true);
        if (!target || nodes_[*target].role != Role::ExtensionPoint) continue;
        bool located = false;
        const std::string location = attribute(nodes_[*target].element, "location", &located);
        add(located ? location : nameOf(nodes_[*target]));
        ++report_.imported["ExtensionPoint (as UseCase.extensionPoint)"];
      }
    }
    store_.setValues(node.object, info.id, std::move(values));
  }

  void applyLinks(const Node& node, const FeatureInfo& info, const std::string& text,
                  const XmlElement* property, const std::string& shown) {
    std::vector<std::size_t> targets;
    // UML 1.3's multiplicities may be written as text: "0..*".
    const bool multiplicity = info.elementClass == QOVIXMultiplicity::kClassId;
    if (property == nullptr) {
      for (const std::string& id : idsIn(text)) {
        const auto found = byId_.find(id);
        if (found != byId_.end()) {
          targets.push_back(found->second);
        } else if (!multiplicity) {
          dangling(shown, id);
        }
      }
      if (multiplicity && targets.empty()) {
        linkMultiplicity(node, info, text, shown);
        return;
      }
    } else if (const auto inside = elementsIn(property); inside.empty()) {
      if (multiplicity) linkMultiplicity(node, info, textOf(property), shown);
      return;
    } else {
      for (const XmlElement* child : inside) {
        if (const auto target = resolve(child, true)) targets.push_back(*target);
      }
    }
    const bool single = info.kind == FeatureKind::Single || info.kind == FeatureKind::ReadOnly;
    explicit_.insert(slotKey(node.object, info.id));
    for (std::size_t index : targets) {
      const Node& target = nodes_[index];
      if (target.role != Role::Object) continue;  // reported with the element itself
      ObjectId linked = target.object;
      if (info.elementClass == QOVIXActionSequence::kClassId &&
          conformsTo(target.classId, QOVIXAction::kClassId) &&
          !conformsTo(target.classId, QOVIXActionSequence::kClassId)) {
        // UML 1.3 and 1.4 tools write one action where 1.1 wants a sequence.
        linked = inSequence(target.object);
        report_.deviate(shown + " holding a single " + className(target.classId),
                        "wrapped in an ActionSequence");
      } else if (!conformsTo(target.classId, info.elementClass)) {
        skip(shown, "holds a " + className(target.classId) + ", which is no " +
                        className(info.elementClass));
        continue;
      }
      if (single) {
        if (store_.reference(node.object, info.id) != 0) {
          skip(shown, "holds one element: the first is kept");
          continue;
        }
        store_.setReference(node.object, info.id, linked);
      } else if (!store_.appendMember(node.object, info.id, linked)) {
        continue;
      }
      links_.emplace_back(node.object, info.id, linked);
    }
  }

  // A new ActionSequence of the one action.
  ObjectId inSequence(ObjectId action) {
    const ObjectId sequence = store_.create(QOVIXActionSequence::kClassId);
    ++report_.imported["ActionSequence"];
    store_.appendMember(sequence, feature::QOVIXActionSequence_action, action);
    store_.appendMember(action, feature::QOVIXAction_actionSequence, sequence);
    return sequence;
  }

  void linkMultiplicity(const Node& node, const FeatureInfo& info, const std::string& text,
                        const std::string& shown) {
    const ObjectId made = store_.create(QOVIXMultiplicity::kClassId);
    try {
      setMultiplicityText(QOVIXMultiplicity(ObjectRef{&store_, made}),
                          QOVIXString(utf::toUtf16(text)));
    } catch (const std::invalid_argument&) {
      skip(shown, std::string("'").append(text.substr(0, 40)).append("' is no multiplicity"));
      return;  // the empty multiplicity goes with nothing
    }
    ++report_.imported["Multiplicity"];
    if (store_.reference(node.object, info.id) == 0)
      store_.setReference(node.object, info.id, made);
  }

  // UML 1.4 names a tagged value's tag by a TagDefinition.
  void tagFromDefinition(std::size_t index, const std::string& text, const XmlElement* property,
                         const std::string& shown) {
    std::vector<std::size_t> definitions;
    if (property == nullptr) {
      if (const auto found = byId_.find(text); found != byId_.end())
        definitions.push_back(found->second);
    } else {
      for (const XmlElement* child : elementsIn(property)) {
        if (const auto target = resolve(child, true)) definitions.push_back(*target);
      }
    }
    for (std::size_t definition : definitions) {
      if (nodes_[definition].role != Role::TagDefinition) continue;
      applyValue(nodes_[index], featureInfo(feature::QOVIXTaggedValue_tag),
                 nameOf(nodes_[definition]), shown);
      return;
    }
    skip(shown, "names no TagDefinition of the document");
  }

  // An Abstraction «realize» between classifiers is UML 1.1's realization.
  void applyRealizations() {
    for (const Node& node : nodes_) {
      if (node.role != Role::Realization) continue;
      bool linked = false;
      for (std::size_t client : targetsOf(node.element, "client")) {
        for (std::size_t supplier : targetsOf(node.element, "supplier")) {
          const Node& from = nodes_[client];
          const Node& to = nodes_[supplier];
          if (from.role != Role::Object || to.role != Role::Object ||
              !conformsTo(from.classId, QOVIXClassifier::kClassId) ||
              !conformsTo(to.classId, QOVIXClassifier::kClassId)) {
            continue;
          }
          store_.appendMember(from.object, feature::QOVIXClassifier_specification, to.object);
          store_.appendMember(to.object, feature::QOVIXClassifier_realization, from.object);
          linked = true;
        }
      }
      if (linked) {
        ++report_.imported["Abstraction «realize» (as Classifier.specification and realization)"];
      } else {
        skip("Abstraction «realize»", "realizes nothing between two classifiers of the document");
      }
    }
  }

  // Each link given on one end of an association is made on the other,
  // after every link the document gives itself, so that its orders stand.
  // An end the document gives itself is taken as it is.
  void completeOppositeEnds() {
    for (const auto& [source, feature, target] : links_) {
      const FeatureId opposite = featureInfo(feature).opposite;
      if (opposite == 0) continue;
      const FeatureInfo& back = featureInfo(opposite);
      if (explicit_.count(slotKey(target, back.id)) != 0) continue;
      if (!conformsTo(store_.classOf(target), back.owner) ||
          !conformsTo(store_.classOf(source), back.elementClass)) {
        continue;
      }
      if (back.kind == FeatureKind::Single || back.kind == FeatureKind::ReadOnly) {
        if (store_.reference(target, back.id) == 0) store_.setReference(target, back.id, source);
      } else {
        store_.appendMember(target, back.id, source);
      }
    }
  }

  // The document's one top-level package receives the other top-level
  // elements no namespace owns (generalizations excepted: UML needs no owner
  // for them). Without exactly one, a new package named after the
  // document holds them all.
  ObjectId placeInPackage() {
    std::vector<ObjectId> packages;
    std::vector<ObjectId> loose;
    for (const Node& node : nodes_) {
      if (!node.topLevel || node.role != Role::Object) continue;
      if (conformsTo(node.classId, QOVIXPackage::kClassId)) packages.push_back(node.object);
      if (conformsTo(node.classId, QOVIXModelElement::kClassId) &&
          node.classId != QOVIXGeneralization::kClassId &&
          store_.memberCount(node.object, feature::QOVIXModelElement_namespace1) == 0) {
        loose.push_back(node.object);
      }
    }
    ObjectId package = 0;
    if (packages.size() == 1) {
      package = packages.front();
    } else {
      package = store_.create(QOVIXPackage::kClassId);
      std::string stem = name_.substr(0, name_.rfind('.'));
      store_.setValue(package, feature::name,
                      StoredValue{QOVIXName::kValueClassId, 0, utf::toUtf16(stem)});
      ++report_.imported["Package"];
    }
    for (ObjectId element : loose) {
      if (element == package) continue;
      store_.appendMember(package, feature::QOVIXNamespace_ownedElement, element);
      store_.appendMember(element, feature::QOVIXModelElement_namespace1, package);
    }
    return package;
  }

  // The report rides on the package as its tagged value "qovix.import",
  // one per package however often it is imported again.
  void attachReport(ObjectId package) {
    const StoredValue text{QOVIXUninterpreted::kValueClassId, 0, utf::toUtf16(report_.text())};
    for (ObjectId tagged : store_.members(package, feature::QOVIXModelElement_taggedValue)) {
      const auto tag = store_.value(tagged, feature::QOVIXTaggedValue_tag);
      if (tag && tag->text == kReportTag) {
        store_.setValue(tagged, feature::QOVIXTaggedValue_umlValue, text);
        return;
      }
    }
    const ObjectId tagged = store_.create(QOVIXTaggedValue::kClassId);
    store_.setValue(tagged, feature::QOVIXTaggedValue_tag,
                    StoredValue{QOVIXName::kValueClassId, 0, kReportTag});
    store_.setValue(tagged, feature::QOVIXTaggedValue_umlValue, text);
    store_.setReference(tagged, feature::QOVIXTaggedValue_modelElement, package);
    store_.appendMember(package, feature::QOVIXModelElement_taggedValue, tagged);
  }

  PersistentStore& store_;
  std::string name_;
  ImportReport& report_;
  std::vector<Node> nodes_;
  // An object's slot as one number, for the sets of slots below.
  static std::uint64_t slotKey(ObjectId object, FeatureId feature) {
    return (std::uint64_t{object} << 32) | feature;
  }
  // Ids as the document holds them; what an element became is noted on
  // the element itself (XmlElement::reading).
  std::unordered_map<std::string_view, std::size_t> byId_;
  std::unordered_set<std::uint64_t> explicit_;  // ends the document gives
  std::vector<std::tuple<ObjectId, FeatureId, ObjectId>> links_;
  std::size_t spacedIds_ = 0;  // ids holding spaces
  struct Nested {
    std::size_t owner;
    std::size_t child;
    FeatureId feature;
  };
  std::vector<Nested> nested_;
  std::map<std::tuple<ClassId, std::string, std::string>, FeatureId> features_;
};

}  // namespace

namespace {

// Counts a line of a report, kMostSkippedLines kinds at most.
void countLine(std::map<std::string, int>& lines, int& beyond, const std::string& what,
               const std::string& why, int count) {
  // A name from the document may be long: it is cut, where no character is.
  constexpr std::size_t kMostWhatBytes = 120;
  std::string line = what;
  if (line.size() > kMostWhatBytes) {
    std::size_t cut = kMostWhatBytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
    line += "...";
  }
  line.append(": ").append(why);
  if (const auto found = lines.find(line); found != lines.end()) {
    found->second += count;
  } else if (lines.size() < kMostSkippedLines) {
    lines.emplace(std::move(line), count);
  } else {
    beyond += count;
  }
}

}  // namespace

void ImportReport::skip(const std::string& what, const std::string& why, int count) {
  countLine(skipped, skippedBeyond, what, why, count);
}

void ImportReport::deviate(const std::string& what, const std::string& how, int count) {
  countLine(deviations, deviationsBeyond, what, how, count);
}

std::string ImportReport::text() const {
  std::ostringstream out;
  out << (translatedFrom.empty() ? format : translatedFrom + " (read as UML 1.4)");
  if (!exporter.empty()) out << ", written by " << exporter;
  if (!archiveEntry.empty()) out << ", read from the archive's entry '" << archiveEntry << "'";
  int total = 0;
  for (const auto& [what, count] : imported) total += count;
  out << "\nimported " << total << (total == 1 ? " element" : " elements") << ":\n";
  for (const auto& [what, count] : imported) out << "  " << count << ' ' << what << '\n';
  if (!deviations.empty()) {
    out << "read despite deviations from the standard:\n";
    for (const auto& [what, count] : deviations) out << "  " << count << ' ' << what << '\n';
    if (deviationsBeyond > 0) {
      out << "  " << deviationsBeyond << " more, of kinds past the " << kMostSkippedLines
          << " listed\n";
    }
  }
  if (skipped.empty()) {
    out << "skipped nothing\n";
    return out.str();
  }
  out << "skipped:\n";
  for (const auto& [what, count] : skipped) out << "  " << count << ' ' << what << '\n';
  if (skippedBeyond > 0) {
    out << "  " << skippedBeyond << " more, of kinds past the " << kMostSkippedLines << " listed\n";
  }
  return out.str();
}

namespace {

// Gives a text's memory back: once parsed, a document's text is not read
// again, and an import holds no more than it must.
void release(std::string& text) { std::string().swap(text); }

// The document read, XMI 1.x or (turned into UML 1.4 first) UML 2.
ObjectId readDocument(PersistentStore& store, std::string text, const std::string& name,
                      ImportReport& report) {
  const std::uint64_t most = store.settings().mostDocumentBytes;
  if (text.size() > most) {
    throw std::runtime_error("XMI document '" + name + "' is larger than " +
                             std::to_string(most >> 20) + " MiB");
  }
  std::string uml14;
  {
    const XmlDocument document = parseXml(text, name, kMostXmiDepth);
    release(text);
    if (!isUml2Document(document.root())) return Reader(store, name, report).read(document);
    uml14 = uml14Of(document.root(), report, report.translatedFrom);
  }
  const XmlDocument translated = parseXml(uml14, name, kMostXmiDepth);
  release(uml14);
  return Reader(store, name, report).read(translated);
}

}  // namespace

ObjectId readXmi(PersistentStore& store, std::string text, const std::string& name,
                 ImportReport& report) {
  if (!isZipArchive(text)) return readDocument(store, std::move(text), name, report);
  const std::uint64_t most = store.settings().mostDocumentBytes;
  if (text.size() > most) {
    throw std::runtime_error("archive '" + name + "' is larger than " + std::to_string(most >> 20) +
                             " MiB");
  }
  ArchivedDocument document = modelDocumentOf(text, name, most);
  release(text);
  report.archiveEntry = document.entry;
  for (const std::string& skipped : document.skipped) {
    const std::size_t colon = skipped.rfind(": ");
    report.skip("archive entry " + skipped.substr(0, colon), skipped.substr(colon + 2));
  }
  return readDocument(store, std::move(document.text), name, report);
}

}  // namespace model::xmi
