// The first pass over an XMI 1.x document: every object definition becomes
// a node, with its id, and the elements other elements ask about are kept.

#include <algorithm>
#include <cctype>
#include <cstring>

#include "interchange/xmi/xmi1_reader.h"
#include "interchange/xmi/xmi_reader.h"
#include "model/qovix_srv/operations.h"

namespace model::xmi::xmi1 {

void Reader::surveyStart(const XmlStart& element) {
  const std::uint32_t ordinal = ordinal_++;
  Open open{open_.empty() ? Within::Root : Within::Opaque};
  std::uint32_t reading = kUnread;
  const std::string tag(withoutPrefix(element.name));
  if (countingAt_ != kNotCounting && isMetaclassTag(tag) && !isStreamReference(element)) {
    ++open_[countingAt_].counted;
  }
  // An element of the model: an object definition, not a reference or an
  // expression (a value), inside the content and outside tools' extensions.
  const Fate inherited = open_.empty() ? Fate::None : open_.back().fate;
  const bool held = inherited != Fate::None && isMetaclassTag(tag) &&
                    !isStreamReference(element) && !endsWith(lastSegment(tag), "Expression");
  if (held) {
    ++report_.held[lastSegment(tag)];
    if (inherited == Fate::Skip) ++report_.skippedElements;
    if (inherited == Fate::Into) ++report_.readInto;
    if (inherited == Fate::Repeat) ++open_[open_.back().repeatAt].counted;
  }
  if (!open_.empty()) {
    open.fate = inherited;
    open.repeatAt = open_.back().repeatAt;
  }
  if (open_.empty()) {
    readRoot(element, tag);
  } else {
    Open& parent = open_.back();
    switch (parent.within) {
      case Within::Root:
        if (tag == "XMI.content") {
          contentSeen_ = true;
          open.within = Within::Content;
        } else if (tag.rfind("XMI.extension", 0) == 0) {
          skipExtension(element);  // XMI.extension, or XMI.extensions as some tools write it
          open.fate = Fate::None;
        } else if (tag == "XMI.header") {
          open.within = Within::Header;
          open.frame = true;
        } else {
          skip(tag, "not part of the model");
        }
        break;
      case Within::Content:
        if (tag == "XMI.extension") {
          skipExtension(element);
          open.fate = Fate::None;
        } else if (isMetaclassTag(tag)) {
          reading = define(element, tag, ordinal, true, false, open);
        } else if (tag == "umlobjects") {
          // Umbrello 1.x lists the model's elements in an element of its own.
          open.within = Within::Content;
          report_.deviate("umlobjects", "Umbrello's list of the model's elements: read as content");
        } else {
          skip(tag, "a property outside any element");
        }
        break;
      case Within::Definition:
        if (tag == "XMI.extension") {
          if (streamAttribute(element, "xmi.extender") != "QOVIX") {
            skipExtension(element);
            open.fate = Fate::None;
          } else {
            open.within = Within::Extension;
            open.ours = true;
            open.node = parent.node;
          }
        } else if (isMetaclassTag(tag)) {
          reading = defineNested(parent.node, element, tag, ordinal, parent.ours, open);
        } else {
          open.within = Within::Property;
          open.ours = parent.ours;
          open.node = parent.node;
          open.given = endGiven(parent.node, tag);
        }
        break;
      case Within::Extension:
        open.within = Within::Property;
        open.ours = true;
        open.node = parent.node;
        open.given = endGiven(parent.node, tag);
        break;
      case Within::Property:
        if (parent.given != 0) {  // given by what is inside, as the second pass reads it
          given_.push_back(slotKey(parent.node, parent.given));
          parent.given = 0;
        }
        if (isMetaclassTag(tag)) reading = define(element, tag, ordinal, false, parent.ours, open);
        break;
      default:
        break;
    }
  }
  decideFate(open, inherited, held, reading);
  if (open.within == Within::Counting) countingAt_ = open_.size();
  open.digest.add(element.name);
  open.digest.add(element.space);
  for (const XmlStreamAttribute& each : element.attributes) {
    open.digest.add(each.name);
    open.digest.add(each.value);
    open.digest.add(each.space);
  }
  if (open.frame) {
    frames_.enterFrame(element, reading);
  } else if (reading != kUnread) {
    frames_.enter(element, ElementFrames::Keep::BareStub, reading);
  } else {
    frames_.enter(element, keepFor(element));
  }
  open_.push_back(std::move(open));
}

// The fate of what the element opened holds, and of the element itself
// when it is one of the model (`held`) whose fate is its own to decide: a
// definition's is its node's, counted at the end (countFates); one defined
// again follows the first; one skipped (a diagram, a tool's metaclass, one
// nested where nothing holds it) is skipped with all it holds.
void Reader::decideFate(Open& open, Fate inherited, bool held, std::uint32_t reading) {
  if (open.within == Within::Content) {
    open.fate = Fate::Decide;
    return;
  }
  if (open.within == Within::Header) open.fate = Fate::None;
  if (open.within == Within::Header || inherited != Fate::Decide) return;
  if (open.within == Within::Repeated) {
    open.fate = Fate::Repeat;
    open.repeatAt = open_.size();
    open.counted = 1;
    return;
  }
  if (open.fate == Fate::None) return;  // a tool's extension
  if (!held) {
    // A property where none belongs, a reference, an expression: nothing
    // inside is read.
    if (open.within == Within::Opaque) open.fate = Fate::Skip;
    return;
  }
  switch (open.within) {
    case Within::Definition:
      return;
    case Within::Counting:
      open.fate = Fate::Skip;
      if (reading == kUnread) ++report_.skippedElements;  // a diagram; else its node's
      return;
    default:
      if (reading != kUnread) {
        open.fate = Fate::Into;  // a tag definition, an extension point
      } else {
        open.fate = Fate::Skip;
        ++report_.skippedElements;
      }
      return;
  }
}

// What each definition became, once the classes are decided.
void Reader::countFates() {
  for (const Node& node : nodes_) {
    switch (node.role) {
      case Role::Object:
        ++report_.readAsObjects;
        break;
      case Role::Skipped:
        ++report_.skippedElements;
        break;
      default:
        ++report_.readInto;
    }
  }
}

void Reader::surveyText(std::string_view characters) {
  open_.back().digest.addText(characters);
  frames_.text(characters);
}

void Reader::surveyEnd() {
  Open& open = open_.back();
  frames_.leave([&](const XmlElement* element) {
    if (open.within == Within::Header) {
      readHeader(element);
    } else {
      nodes_[open.node].element = kept_.keep(element);
    }
  });
  const std::uint64_t digest = open.digest.value();
  if (open.within == Within::Definition) {
    nodes_[open.node].digest = digest;
    nodes_[open.node].digested = true;
  } else if (open.within == Within::Repeated) {
    const Node& first = nodes_[open.node];
    if (first.digested && first.digest == digest) {
      report_.deviate(open.what + " defined again, identically, under its xmi.id", "read once");
      report_.readInto += open.counted;
    } else {
      keepAgain(open);
    }
  } else if (open.within == Within::Counting) {
    countingAt_ = kNotCounting;
    if (open.counted > 0) skip(open.what, open.why, open.counted);
  }
  open_.pop_back();
  if (!open_.empty()) open_.back().digest.addChild(digest);
}

// An element defined under an id in use that differs from the first is an
// element of its own, by its place in the document: references to the id
// name the first. What it holds is not read (the first reading defined
// nothing inside it), and is counted as skipped.
void Reader::keepAgain(const Open& open) {
  const Node& again = againNodes_[open.again];
  repeats_.pop_back();  // its own node now: no stand-in for the first
  if (again.role != Role::Object) {
    skip(open.what + " under an xmi.id in use", "differs from the element defined first");
    report_.skippedElements += open.counted;
    return;
  }
  nodes_.push_back(again);  // in document order: nothing inside it was defined
  report_.deviate(open.what + " defined again, differently, under an xmi.id in use",
                  "read as an element of its own; references to the id name the first");
  if (open.counted > 1) {
    skip("elements inside " + withArticle(open.what) + " defined again",
         "not read: the first reading of its id read the first element's", open.counted - 1);
    report_.skippedElements += open.counted - 1;
  }
}

void Reader::skipExtension(const XmlStart& extension) {
  const std::string extender(streamAttribute(extension, "xmi.extender"));
  skip(extender.empty() ? std::string("XMI.extension")
                        : std::string("XMI.extension (").append(extender).append(")"),
       "a tool's own data, not part of the model");
}

// Defines the object `element` stands for, as `open` says; answers its
// node, or the first's for an element defined again; kUnread for none.
std::uint32_t Reader::define(const XmlStart& element, const std::string& tag, std::uint32_t ordinal,
                             bool topLevel, bool ours, Open& open) {
  if (isStreamReference(element)) {
    if (topLevel) skip(tag, "a reference outside any element");
    return kUnread;
  }
  if (nodes_.size() >= kMostXmiElements) {
    fail("holds more than " + std::to_string(kMostXmiElements) + " elements");
  }
  const std::string metaclass = lastSegment(tag);
  if (endsWith(metaclass, "Expression")) {
    if (topLevel) skip(metaclass, "an expression outside any element");
    return kUnread;  // a value of the property around it
  }
  const std::string_view interned = frames_.names().intern(element.name);
  Node node;
  node.metaclass = interned.data() + (interned.size() - metaclass.size());
  node.ordinal = ordinal;
  node.topLevel = topLevel;
  if (!open_.empty()) node.parent = open_.back().node;
  open.within = Within::Definition;
  open.ours = ours;
  if (metaclass == "Diagram" && !ours) {
    skip("Diagram", "diagrams are drawings, not part of the model");
    open.within = Within::Counting;
    open.what = "diagram elements";
    open.why = "inside a Diagram";
    return kUnread;
  } else if (metaclass == "TagDefinition") {
    node.role = Role::TagDefinition;
    skip("TagDefinition", "its name is the tag of the tagged values of its type");
    open.within = Within::Opaque;
  } else if (metaclass == "ExtensionPoint") {
    node.role = Role::ExtensionPoint;
    open.within = Within::Opaque;
  } else if ((node.classId = classForMetaclass(metaclass)) == 0) {
    node.role = Role::Skipped;
    skip(metaclass, "UML 1.1 has no such metaclass");
    open.within = Within::Counting;
    open.what = "elements inside " + withArticle(metaclass);
    open.why = "what a skipped element holds";
  }
  bool identified = false;
  const std::string_view id = streamAttribute(element, "xmi.id", &identified);
  // An empty id names nothing: tools write them on elements that nothing
  // refers to, and they are not the same element however many there are.
  identified = identified && !id.empty();
  if (identified) {
    if (const auto first = byId_.find(id); first != byId_.end()) {
      repeats_.push_back(Repeat{ordinal, first->second});
      open = Open{Within::Repeated};
      open.node = first->second;
      open.what = metaclass;
      // Kept, should it differ from the first: an element of its own.
      open.again = static_cast<std::uint32_t>(againNodes_.size());
      againNodes_.push_back(node);
      return first->second;
    }
    if (std::any_of(id.begin(), id.end(), [](unsigned char c) { return std::isspace(c); })) {
      ++spacedIds_;
      report_.deviate("xmi.id holding spaces",
                      "a reference that is exactly one is read as that one", 1);
    }
  }
  // The few kinds other elements ask about are kept whole.
  open.frame = node.role == Role::TagDefinition || node.role == Role::ExtensionPoint ||
               node.classId == QOVIXStereotype::kClassId || metaclass == "Abstraction";
  const auto self = static_cast<std::uint32_t>(nodes_.size());
  nodes_.push_back(node);
  open.node = self;
  if (node.role == Role::Object) {
    for (const XmlStreamAttribute& each : element.attributes) {
      if (each.name.starts_with("xmi.") || each.name == "href") continue;
      if (const FeatureId given = endGiven(self, std::string(each.name)))
        given_.push_back(slotKey(self, given));
    }
  }
  if (identified) byId_.emplace(keepId(id), self);
  return self;
}

// The feature a property of the node names, when it is a link with an
// other end: the document gives that end itself, and links given on the
// other end do not add to it.
FeatureId Reader::endGiven(std::uint32_t index, const std::string& tag) {
  const Node& node = nodes_[index];
  if (node.role != Role::Object) return 0;
  const auto [owner, name] = propertyParts(tag);
  if (node.classId == QOVIXTaggedValue::kClassId && name == "type") return 0;
  const FeatureId feature = featureFor(node.classId, owner, name);
  if (feature == 0) return 0;
  const FeatureInfo& info = featureInfo(feature);
  if (info.kind == FeatureKind::Attribute || info.kind == FeatureKind::Hidden ||
      info.kind == FeatureKind::Values || info.opposite == 0) {
    return 0;
  }
  return feature;
}

std::string_view Reader::keepId(std::string_view id) {
  char* kept = ids_.take(id.size());
  std::memcpy(kept, id.data(), id.size());
  return {kept, id.size()};
}

FeatureId holdingFeature(ClassId ownerClass, ClassId childClass) {
  std::vector<const FeatureInfo*> candidates;
  for (const FeatureInfo& feature : modelFeatures()) {
    if (feature.owns && feature.owner != 0 && conformsTo(ownerClass, feature.owner) &&
        conformsTo(childClass, feature.elementClass)) {
      candidates.push_back(&feature);
    }
  }
  FeatureId found = 0;
  for (const FeatureInfo* each : candidates) {
    if (std::all_of(candidates.begin(), candidates.end(), [&](const FeatureInfo* other) {
          return conformsTo(each->elementClass, other->elementClass);
        })) {
      if (found != 0) return 0;
      found = each->id;
    }
  }
  return found;
}

// An element written directly inside its owner, outside any property (as
// some tools write an enumeration's literals): it goes into the owner's
// composite feature for its kind, the most specific one (a class's
// attribute is its feature, not its owned element); with none, or no one
// most specific, it is skipped.
std::uint32_t Reader::defineNested(std::uint32_t owner, const XmlStart& child,
                                   const std::string& tag, std::uint32_t ordinal, bool ours,
                                   Open& open) {
  const std::string metaclass = lastSegment(tag);
  const ClassId childClass = classForMetaclass(metaclass);
  const FeatureId found = childClass != 0 && nodes_[owner].role == Role::Object
                              ? holdingFeature(nodes_[owner].classId, childClass)
                              : FeatureId{0};
  const std::string where = metaclass + " directly inside " + withArticle(nodes_[owner].metaclass);
  if (found == 0 || isStreamReference(child)) {
    skip(where, "outside any property, and no one feature of its owner holds it");
    return kUnread;
  }
  const std::uint32_t reading = define(child, tag, ordinal, false, ours, open);
  if (reading == kUnread) return kUnread;
  nested_.push_back({owner, reading, found});
  report_.deviate(where,
                  std::string("outside any property: read as its ") + featureInfo(found).name);
  return reading;
}

}  // namespace model::xmi::xmi1
