// The second pass over an XMI 1.x document: each object's properties, made
// from its element once the element has ended.

#include <algorithm>
#include <charconv>
#include <sstream>

#include "interchange/xmi/xmi1_reader.h"
#include "model/qovix_srv/operations.h"
#include "utf/utf.h"

namespace model::xmi::xmi1 {

// Links each element written directly inside its owner.
void Reader::applyNested() {
  std::vector<Nested> made;
  for (const auto& [owner, child, feature] : nested_) {
    if (nodes_[child].role != Role::Object) continue;
    if (linkOwned(owner, child, feature)) made.push_back({owner, child, feature});
  }
  // Their other ends, after every link the document gives.
  for (const auto& [owner, child, feature] : made) {
    completeOppositeEnd(static_cast<std::uint32_t>(owner), feature, nodes_[child].object,
                        static_cast<std::uint32_t>(child), nodes_[child].classId);
  }
}

// Puts `child` into `owner`'s composite `feature`; false when it holds one
// already (a single reference) or holds it already.
bool Reader::linkOwned(std::size_t owner, std::size_t child, FeatureId feature) {
  const ObjectId from = nodes_[owner].object;
  const ObjectId to = nodes_[child].object;
  const FeatureInfo& info = featureInfo(feature);
  if (info.kind == FeatureKind::Single || info.kind == FeatureKind::ReadOnly) {
    if (store_.reference(from, feature) != 0) return false;
    store_.setReference(from, feature, to);
  } else if (!store_.appendMember(from, feature, to)) {
    return false;
  }
  noteOwnership(from, feature, to);
  return true;
}

void Reader::applicationStart(const XmlStart& element) {
  const std::uint32_t ordinal = ordinal_++;
  std::uint32_t reading = kUnread;
  bool fresh = false;
  if (nextNode_ < nodes_.size() && nodes_[nextNode_].ordinal == ordinal) {
    reading = nextNode_++;
    fresh = true;
  } else if (nextRepeat_ < repeats_.size() && repeats_[nextRepeat_].ordinal == ordinal) {
    reading = repeats_[nextRepeat_++].first;
  }
  if (fresh && !std::string_view(element.name).ends_with(nodes_[reading].metaclass)) {
    changedWhileRead();
  }
  if (fresh && nodes_[reading].role == Role::Object) {
    objectOf(reading);
    frames_.enterFrame(element, reading);
  } else if (reading != kUnread) {
    frames_.enter(element, ElementFrames::Keep::BareStub, reading);
  } else {
    frames_.enter(element, keepFor(element));
  }
}

// An object's element has ended: its properties are made from it.
void Reader::applyFrame(const XmlElement* element) {
  Node& node = nodes_[element->reading];
  const XmlElement* kept = node.element;
  node.element = element;
  applyProperties(element->reading);
  node.element = kept;
}

std::string Reader::nameOf(const Node& node) const {
  if (node.element == nullptr) return {};  // not kept
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
std::vector<std::string> Reader::idsIn(const std::string& text) const {
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
std::vector<std::size_t> Reader::targetsOf(const XmlElement* element, const std::string& name) {
  std::vector<std::size_t> found;
  if (element == nullptr) return found;  // not kept
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
std::optional<std::size_t> Reader::resolve(const XmlElement* target, bool report) {
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
      if (report)
        dangling(std::string("<").append(localName(target)).append(" xmi.idref>"), wanted);
      return std::nullopt;
    }
    return found->second;
  }
  if (target->reading == kUnread) return std::nullopt;
  return target->reading;
}

// The object of the node, made when first asked: at its element's start
// tag, or before for an element referred to before it comes. So objects
// are numbered in the order the document defines them, and each is made
// shortly before its element ends and its properties are set, while the
// store still has it at hand.
ObjectId Reader::objectOf(std::size_t index) {
  Node& node = nodes_[index];
  if (node.object != 0 || node.role != Role::Object) return node.object;
  node.object = store_.create(node.classId);
  ++report_.imported[className(node.classId)];
  if (std::string_view(node.metaclass) == "FinalState") {
    store_.setValue(node.object, feature::QOVIXPseudostate_kind,
                    StoredValue{QOVIXPseudostateKind::kValueClassId,
                                *literalFor(QOVIXPseudostateKind::kValueClassId, "final"),
                                {}});
  }
  return node.object;
}

void Reader::applyProperties(std::size_t index) {
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

void Reader::applyElementProperty(std::size_t index, const XmlElement* property) {
  const auto [owner, name] = propertyParts(localName(property));
  applyProperty(index, owner, name, {}, property);
}

// A property given as the attribute text `text` or as the element `property`.
void Reader::applyProperty(std::size_t index, const std::string& owner, const std::string& name,
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
      applyLinks(static_cast<std::uint32_t>(index), info, text, property, shown);
      break;
  }
}

// featureForProperty, asked once per class and property name.
FeatureId Reader::featureFor(ClassId classId, const std::string& owner, const std::string& name) {
  const auto key = std::make_tuple(classId, owner, name);
  if (const auto found = features_.find(key); found != features_.end()) return found->second;
  return features_[key] = featureForProperty(classId, owner, name);
}

// A value property's text: its xmi.value, the body of the expression
// inside it, or its text.
std::string Reader::valueText(const XmlElement* property) const {
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

std::optional<StoredValue> Reader::parseValue(const Node& node, const FeatureInfo& info,
                                              const std::string& text) const {
  const ValueClassInfo* valueClass = valueClassInfo(info.valueClass);
  if (valueClass == nullptr) return std::nullopt;
  if (valueClass->payload == ValuePayload::Text) {
    std::u16string units = utf::toUtf16(text);
    if (units.size() > utf::kMostTextUnits) {
      const std::string id = attribute(node.element, "xmi.id");
      failAt(node.element, std::string("the ") + info.name + " of " + std::string(node.metaclass) +
                               (id.empty() ? "" : " '" + id.substr(0, 80) + "'") + " holds " +
                               std::to_string(units.size()) +
                               " UTF-16 units; a value holds at most " +
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

void Reader::applyValue(const Node& node, const FeatureInfo& info, const std::string& text,
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
void Reader::applyValues(const Node& node, const FeatureInfo& info, const std::string& text,
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

void Reader::applyLinks(std::uint32_t index, const FeatureInfo& info, const std::string& text,
                        const XmlElement* property, const std::string& shown) {
  const Node& node = nodes_[index];
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
  for (std::size_t at : targets) {
    const Node& target = nodes_[at];
    if (target.role != Role::Object) continue;  // reported with the element itself
    ObjectId linked = objectOf(at);
    auto end = static_cast<std::uint32_t>(at);
    ClassId linkedClass = target.classId;
    if (info.elementClass == QOVIXActionSequence::kClassId &&
        conformsTo(target.classId, QOVIXAction::kClassId) &&
        !conformsTo(target.classId, QOVIXActionSequence::kClassId)) {
      // UML 1.3 and 1.4 tools write one action where 1.1 wants a sequence.
      linked = inSequence(linked);
      end = kUnread;
      linkedClass = QOVIXActionSequence::kClassId;
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
    noteOwnership(node.object, info.id, linked);
    completeOppositeEnd(index, info.id, linked, end, linkedClass);
  }
}

// Notes a link of `from`'s `feature` to `to` when it is one of ownership
// (at either end), for the walk that takes circles apart at the end.
void Reader::noteOwnership(ObjectId from, FeatureId feature, ObjectId to) {
  if (const auto link = ownershipLinkOf(from, feature, to)) ownershipLinks_.push_back(*link);
}

// A link given on one end of an association is made on the other, as
// soon as it is made, while both objects are at hand; unless the
// document gives that end itself (as the first pass found), so that its
// orders stand. `end` is the other end's node; kUnread for an object the
// reading made.
void Reader::completeOppositeEnd(std::uint32_t from, FeatureId feature, ObjectId target,
                                 std::uint32_t end, ClassId targetClass) {
  const FeatureId opposite = featureInfo(feature).opposite;
  if (opposite == 0) return;
  const FeatureInfo& back = featureInfo(opposite);
  if (end != kUnread && std::binary_search(given_.begin(), given_.end(), slotKey(end, back.id)))
    return;
  if (!conformsTo(targetClass, back.owner) ||
      !conformsTo(nodes_[from].classId, back.elementClass)) {
    return;
  }
  const ObjectId source = nodes_[from].object;
  if (back.kind == FeatureKind::Single || back.kind == FeatureKind::ReadOnly) {
    if (store_.reference(target, back.id) == 0) store_.setReference(target, back.id, source);
  } else {
    store_.appendMember(target, back.id, source);
  }
}

}  // namespace model::xmi::xmi1
