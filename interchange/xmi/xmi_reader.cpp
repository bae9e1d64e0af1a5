#include "interchange/xmi/xmi_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model_classes.h"
#include "model/qovix_srv/operations.h"
#include "model/qovix_srv/ownership.h"
#include "interchange/xmi/element_frames.h"
#include "interchange/xmi/model_archive.h"
#include "interchange/xmi/ownership_circles.h"
#include "interchange/xmi/uml2_reading.h"
#include "interchange/xmi/xmi_names.h"
#include "interchange/xmi/xml_document.h"
#include "interchange/xmi/xml_stream.h"
#include "utf/utf.h"

namespace model::xmi {
namespace {

// The tag a report names the import by, on the imported package.
constexpr char16_t kReportTag[] = u"qovix.import";

std::string lastSegment(const std::string& tag) { return tag.substr(tag.rfind('.') + 1); }

// XMI names metaclasses (Foundation.Core.Class, UML:Class) with a capital
// and properties (Foundation.Core.ModelElement.name) after their owner.
bool isMetaclassTag(std::string_view tag) {
  const std::string_view last = tag.substr(tag.rfind('.') + 1);
  return !last.empty() && last[0] >= 'A' && last[0] <= 'Z';
}

std::pair<std::string, std::string> propertyParts(const std::string& tag) {
  const std::size_t dot = tag.rfind('.');
  if (dot == std::string::npos || dot == 0) return {"", tag.substr(dot + 1)};
  const std::size_t before = tag.rfind('.', dot - 1);
  const std::size_t start = before == std::string::npos ? 0 : before + 1;
  return {tag.substr(start, dot - start), tag.substr(dot + 1)};
}

bool endsWith(std::string_view text, std::string_view end) { return text.ends_with(end); }

std::string className(ClassId id) { return classInfo(id).shortName; }

enum class Role : std::uint8_t { Object, Realization, TagDefinition, ExtensionPoint, Skipped };

// An element of the document the reader makes something of: an object
// definition.
struct Node {
  // Its element while the reader works on it; kept for the whole reading
  // for the few kinds other elements ask about (keptWhole).
  const XmlElement* element = nullptr;
  const char* metaclass = "";  // as the document names it, without package or prefix
  std::uint64_t digest = 0;    // of all it holds, once it has ended (digested)
  std::uint32_t ordinal = 0;   // its place among the document's elements, from 0
  ObjectId object = 0;
  ClassId classId = 0;
  Role role = Role::Object;
  bool topLevel = false;
  bool digested = false;
};

// What an element defined again under an id in use stands for: the first.
struct Repeat {
  std::uint32_t ordinal;
  std::uint32_t first;
};

// A digest of an element and all it holds, from the stream: two elements
// whose digests match are taken to be the same (FNV-1a, 64 bits).
class Digest {
 public:
  // A name or value, ended so that the next cannot run into it.
  void add(std::string_view bytes) {
    addText(bytes);
    add('\0');
  }
  void add(char byte) {
    value_ ^= static_cast<unsigned char>(byte);
    value_ *= 1099511628211u;
  }
  void addText(std::string_view bytes) {
    for (const char byte : bytes) add(byte);
  }
  void addChild(std::uint64_t digest) {
    add('\1');
    addText(std::string_view(reinterpret_cast<const char*>(&digest), sizeof digest));
  }
  std::uint64_t value() const { return value_; }

 private:
  std::uint64_t value_ = 14695981039346656037u;
};

std::string_view withoutPrefix(std::string_view name) { return name.substr(name.find(':') + 1); }

std::string_view streamAttribute(const XmlStart& start, std::string_view name, bool* present) {
  for (const XmlStreamAttribute& each : start.attributes) {
    if (each.space.empty() && each.name == name) {
      *present = true;
      return each.value;
    }
  }
  *present = false;
  return {};
}

std::string_view streamAttribute(const XmlStart& start, std::string_view name) {
  bool present = false;
  return streamAttribute(start, name, &present);
}

bool isStreamReference(const XmlStart& start) {
  bool idref = false;
  bool href = false;
  streamAttribute(start, "xmi.idref", &idref);
  streamAttribute(start, "href", &href);
  return idref || href;
}

// How an element inside a kept one is kept, when it is no object
// definition: a property whole; an element that names a metaclass (a
// reference, or what is not read, such as a diagram) by its start tag, but
// an expression, a value, whole; a tool's extension not at all.
ElementFrames::Keep keepFor(const XmlStart& start) {
  const std::string_view tag = withoutPrefix(start.name);
  if (tag == "XMI.extension") {
    return streamAttribute(start, "xmi.extender") == "QOVIX" ? ElementFrames::Keep::Whole
                                                             : ElementFrames::Keep::Nothing;
  }
  if (isMetaclassTag(tag) && !endsWith(tag, "Expression")) return ElementFrames::Keep::Stub;
  return ElementFrames::Keep::Whole;
}

// Reads a document in two passes over its text, keeping neither it nor
// its tree: the first finds every object definition and its id, the
// second makes each object's properties from its element alone, once the
// element has ended, and gives the element back.
class Reader {
 public:
  Reader(PersistentStore& store, std::string name, ImportReport& report)
      : store_(store), name_(std::move(name)), report_(report) {}

  ObjectId read(const XmlSource& source) {
    Survey survey(*this);
    const std::size_t capitalised = streamXml(source, name_, kMostXmiDepth, survey);
    const std::uint32_t elements = ordinal_;
    if (!contentSeen_) fail("has no <XMI.content>");
    if (capitalised > 0) {
      report_.deviate("XMI.id, XMI.idref and the like",
                      "capitalised, as the drafts before XMI 1.0: read as xmi.id",
                      static_cast<int>(capitalised));
    }
    report_.format = std::string("XMI ").append(version_).append(", UML ").append(uml_);
    if (std::none_of(nodes_.begin(), nodes_.end(),
                     [](const Node& node) { return node.role == Role::Object; })) {
      fail("holds no element of a UML model");
    }
    std::sort(given_.begin(), given_.end());
    given_.erase(std::unique(given_.begin(), given_.end()), given_.end());
    decideClasses();
    ordinal_ = 0;
    Application application(*this);
    streamXml(source, name_, kMostXmiDepth, application);
    if (ordinal_ != elements || nextNode_ != nodes_.size()) changedWhileRead();
    applyNested();
    applyRealizations();
    if (const std::size_t cut = cutOwnershipCircles(store_, std::move(ownershipLinks_)); cut != 0) {
      skip("an element inside itself",
           "an id given to an element and to what it holds, or owners named in a circle: "
           "the link that closes the circle is left out",
           static_cast<int>(cut));
    }
    const ObjectId package = placeInPackage();
    attachReport(package);
    return package;
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("XMI document '" + name_ + "' " + why);
  }
  [[noreturn]] void failAt(int line, const std::string& why) const {
    throw std::runtime_error("XMI document '" + name_ + "' line " + std::to_string(line) + ": " +
                             why);
  }
  [[noreturn]] void failAt(const XmlElement* element, const std::string& why) const {
    failAt(element->line, why);
  }
  void skip(const std::string& what, const std::string& why, int count = 1) {
    report_.skip(what, why, count);
  }
  // A reference to an element the document does not hold, as a partial
  // export writes: the link is left out.
  void dangling(const std::string& where, const std::string& id) {
    skip(where + " '" + id.substr(0, 60) + "'", "names no element of the document");
  }

  // The first pass: every object definition becomes a node ------------------

  // Where an open element stands, which decides what the elements inside
  // it are.
  enum class Within : std::uint8_t {
    Root,        // <XMI>
    Header,      // XMI.header
    Content,     // XMI.content: object definitions
    Definition,  // an object's element: its properties, and elements nested directly
    Extension,   // QOVIX's own extension of an object: properties
    Property,    // a property: values, references and object definitions
    Opaque,      // nothing inside is defined
    Counting,    // nothing inside is defined, and the definitions inside are counted
    Repeated,    // an object defined again under an id in use
  };

  struct Open {
    Within within;
    bool ours = false;  // inside QOVIX's own extension
    bool frame = false;
    std::uint32_t node = kUnread;  // for Definition, Extension, Property and Repeated
    FeatureId given = 0;    // for Property: the end it gives, until an element inside gives it
    int counted = 0;        // for Counting
    std::string what = {};  // for Counting and Repeated: what the report names
    std::string why = {};   // for Counting: why what it counts is skipped
    Digest digest = {};
  };

  class Survey final : public XmlEvents {
   public:
    explicit Survey(Reader& reader) : reader_(reader) {}
    bool start(const XmlStart& element) override {
      reader_.surveyStart(element);
      return true;
    }
    void text(std::string_view characters) override { reader_.surveyText(characters); }
    void end() override { reader_.surveyEnd(); }

   private:
    Reader& reader_;
  };

  void surveyStart(const XmlStart& element) {
    const std::uint32_t ordinal = ordinal_++;
    Open open{open_.empty() ? Within::Root : Within::Opaque};
    std::uint32_t reading = kUnread;
    const std::string tag(withoutPrefix(element.name));
    if (countingAt_ != kNotCounting && isMetaclassTag(tag) && !isStreamReference(element)) {
      ++open_[countingAt_].counted;
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
          } else if (isMetaclassTag(tag)) {
            reading = define(element, tag, ordinal, true, false, open);
          } else {
            skip(tag, "a property outside any element");
          }
          break;
        case Within::Definition:
          if (tag == "XMI.extension") {
            if (streamAttribute(element, "xmi.extender") != "QOVIX") {
              skipExtension(element);
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
          if (isMetaclassTag(tag))
            reading = define(element, tag, ordinal, false, parent.ours, open);
          break;
        default:
          break;
      }
    }
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

  void surveyText(std::string_view characters) {
    open_.back().digest.addText(characters);
    frames_.text(characters);
  }

  void surveyEnd() {
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
      } else {
        skip(open.what + " under an xmi.id in use",
             "differs from the element defined first, which is kept");
      }
    } else if (open.within == Within::Counting) {
      countingAt_ = kNotCounting;
      if (open.counted > 0) skip(open.what, open.why, open.counted);
    }
    open_.pop_back();
    if (!open_.empty()) open_.back().digest.addChild(digest);
  }

  // The root must be <XMI> of a version read.
  void readRoot(const XmlStart& root, const std::string& tag) {
    if (tag != "XMI") fail("is no XMI document: its root is no <XMI>");
    bool versioned = false;
    const std::string version(streamAttribute(root, "xmi.version", &versioned));
    if (versioned && version != "1.0" && version != "1.1" && version != "1.2") {
      failAt(root.line,
             "is XMI '" + version.substr(0, 20) + "': XMI 1.0, 1.1 and 1.2 are read" +
                 (version.rfind('2', 0) == 0 ? ", and XMI 2.x in the XMI namespace" : ""));
    }
    versioned_ = versioned;
    version_ = versioned ? version : "1.0";
    uml_ = version_ == "1.2" ? "1.4" : "1.3";
    if (!versioned) {
      report_.deviate("<XMI>", "no xmi.version, as the drafts before XMI 1.0: read as XMI 1.0");
    }
  }

  void readHeader(const XmlElement* header) {
    for (const XmlElement* item : elementsIn(header)) {
      if (localName(item) == "XMI.metamodel") readMetamodel(item);
      if (localName(item) != "XMI.documentation") continue;
      for (const XmlElement* line : elementsIn(item)) {
        if (localName(line) == "XMI.exporter") report_.exporter = textOf(line) + report_.exporter;
        if (localName(line) == "XMI.exporterVersion")
          report_.exporter.append(" ").append(textOf(line));
      }
    }
  }

  // The metamodel the header names must be UML; a draft's, a UML the
  // catalogue's names are clear for (1.1 to 1.4).
  void readMetamodel(const XmlElement* item) {
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
    if (!versioned_ && version != "1.1" && version != "1.3" && version != "1.4") {
      failAt(item, "is a draft XMI document of UML '" + version.substr(0, 20) +
                       "': of the drafts, UML 1.1 to 1.4 are read, whose names are known");
    }
    uml_ = version;
  }

  void skipExtension(const XmlStart& extension) {
    const std::string extender(streamAttribute(extension, "xmi.extender"));
    skip(extender.empty() ? std::string("XMI.extension")
                          : std::string("XMI.extension (").append(extender).append(")"),
         "a tool's own data, not part of the model");
  }

  // Defines the object `element` stands for, as `open` says; answers its
  // node, or the first's for an element defined again; kUnread for none.
  std::uint32_t define(const XmlStart& element, const std::string& tag, std::uint32_t ordinal,
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
      open.what = "elements inside a " + metaclass;
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
  FeatureId endGiven(std::uint32_t index, const std::string& tag) {
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

  std::string_view keepId(std::string_view id) {
    char* kept = ids_.take(id.size());
    std::memcpy(kept, id.data(), id.size());
    return {kept, id.size()};
  }

  // An element written directly inside its owner, outside any property (as
  // some tools write an enumeration's literals): it goes into the owner's
  // composite feature for its kind, the most specific one (a class's
  // attribute is its feature, not its owned element); with none, or no one
  // most specific, it is skipped.
  std::uint32_t defineNested(std::uint32_t owner, const XmlStart& child, const std::string& tag,
                             std::uint32_t ordinal, bool ours, Open& open) {
    const std::string metaclass = lastSegment(tag);
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
    const std::string where = metaclass + " directly inside a " + nodes_[owner].metaclass;
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

  // Links each element written directly inside its owner.
  void applyNested() {
    std::vector<Nested> made;
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
      noteOwnership(from.object, feature, to.object);
      made.push_back({owner, child, feature});
    }
    // Their other ends, after every link the document gives.
    for (const auto& [owner, child, feature] : made) {
      completeOppositeEnd(static_cast<std::uint32_t>(owner), feature, nodes_[child].object,
                          static_cast<std::uint32_t>(child), nodes_[child].classId);
    }
  }

  // The second pass: each object's properties, from its element -------------

  // A document changed in place between the passes (by hand: the server
  // replaces documents whole) is refused, not read half as it was.
  [[noreturn]] void changedWhileRead() const { fail("changed while it was read: read it again"); }

  class Application final : public XmlEvents {
   public:
    explicit Application(Reader& reader) : reader_(reader) {}
    bool start(const XmlStart& element) override {
      reader_.applicationStart(element);
      return true;
    }
    void text(std::string_view characters) override { reader_.frames_.text(characters); }
    void end() override {
      reader_.frames_.leave([this](const XmlElement* element) { reader_.applyFrame(element); });
    }

   private:
    Reader& reader_;
  };

  void applicationStart(const XmlStart& element) {
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
  void applyFrame(const XmlElement* element) {
    Node& node = nodes_[element->reading];
    const XmlElement* kept = node.element;
    node.element = element;
    applyProperties(element->reading);
    node.element = kept;
  }

  // Classes -----------------------------------------------------------------

  std::string nameOf(const Node& node) const {
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
      if (std::string_view(node.metaclass) != "Abstraction" || node.role != Role::Object) continue;
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

  // The object of the node, made when first asked: at its element's start
  // tag, or before for an element referred to before it comes. So objects
  // are numbered in the order the document defines them, and each is made
  // shortly before its element ends and its properties are set, while the
  // store still has it at hand.
  ObjectId objectOf(std::size_t index) {
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
        applyLinks(static_cast<std::uint32_t>(index), info, text, property, shown);
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

  void applyLinks(std::uint32_t index, const FeatureInfo& info, const std::string& text,
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
  void noteOwnership(ObjectId from, FeatureId feature, ObjectId to) {
    if (const auto link = ownershipLinkOf(from, feature, to)) ownershipLinks_.push_back(*link);
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

  // A link given on one end of an association is made on the other, as
  // soon as it is made, while both objects are at hand; unless the
  // document gives that end itself (as the first pass found), so that its
  // orders stand. `end` is the other end's node; kUnread for an object the
  // reading made.
  void completeOppositeEnd(std::uint32_t from, FeatureId feature, ObjectId target,
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
    // The one package may be inside a loose element (held by an ownership
    // other than a namespace's): that element stays where it is.
    const std::unordered_set<ObjectId> above = ownersAbove(store_, package);
    for (ObjectId element : loose) {
      if (element == package || above.count(element) != 0) continue;
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
  std::deque<Node> nodes_;  // grown without copying
  // An object's slot as one number, for the sets of slots below.
  static std::uint64_t slotKey(ObjectId object, FeatureId feature) {
    return (std::uint64_t{object} << 32) | feature;
  }
  // Ids as the document holds them, and their nodes; what an element
  // inside a frame stands for is noted on it (XmlElement::reading).
  std::unordered_map<std::string_view, std::uint32_t> byId_;
  Blocks<char, std::size_t{1} << 20> ids_;
  std::vector<Repeat> repeats_;                // by ordinal
  std::vector<OwnershipLink> ownershipLinks_;  // what each link made owns
  ElementFrames frames_;
  KeptElements kept_;
  std::vector<Open> open_;  // while surveying
  static constexpr std::size_t kNotCounting = SIZE_MAX;
  std::size_t countingAt_ = kNotCounting;  // the open element counting definitions, if any
  std::uint32_t ordinal_ = 0;              // of the next element
  std::size_t nextNode_ = 0;               // while applying: the next node to come
  std::size_t nextRepeat_ = 0;
  bool contentSeen_ = false;
  bool versioned_ = false;
  std::string version_;
  std::string uml_;
  // The ends the document gives itself, (node, feature) as slotKey makes
  // them; sorted once the first pass has found them all.
  std::vector<std::uint64_t> given_;
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

// Gives a text's memory back: once parsed, a document's text is not read
// again, and an import holds no more than it must.
void release(std::string& text) { std::string().swap(text); }

// The root element's name and namespace, read from the stream alone.
class RootOnly final : public XmlEvents {
 public:
  bool start(const XmlStart& element) override {
    name = element.name;
    space = element.space;
    return false;
  }
  void text(std::string_view) override {}
  void end() override {}
  std::string name;
  std::string space;
};

// The document read, XMI 1.x or (turned into UML 1.4 first) UML 2.
ObjectId readDocument(PersistentStore& store, const XmlSource& source, const std::string& name,
                      ImportReport& report) {
  const std::uint64_t most = store.settings().mostDocumentBytes;
  if (source.size() > most) {
    throw std::runtime_error("XMI document '" + name + "' is larger than " +
                             std::to_string(most >> 20) + " MiB");
  }
  RootOnly root;
  streamXml(source, name, kMostXmiDepth, root);
  XmlElement rootElement;
  rootElement.name = root.name;
  rootElement.space = root.space;
  if (!isUml2Document(&rootElement)) return Reader(store, name, report).read(source);
  std::string uml14;
  {
    const XmlDocument document = parseXml(source, name, kMostXmiDepth);
    uml14 = uml14Of(document.root(), report, report.translatedFrom);
  }
  return Reader(store, name, report).read(TextSource(uml14));
}

// The XMI document inside a project archive.
ObjectId readArchive(PersistentStore& store, std::string bytes, const std::string& name,
                     ImportReport& report) {
  const std::uint64_t most = store.settings().mostDocumentBytes;
  if (bytes.size() > most) {
    throw std::runtime_error("archive '" + name + "' is larger than " + std::to_string(most >> 20) +
                             " MiB");
  }
  ArchivedDocument document = modelDocumentOf(bytes, name, most);
  release(bytes);
  report.archiveEntry = document.entry;
  for (const std::string& skipped : document.skipped) {
    const std::size_t colon = skipped.rfind(": ");
    report.skip("archive entry " + skipped.substr(0, colon), skipped.substr(colon + 2));
  }
  return readDocument(store, TextSource(document.text), name, report);
}

}  // namespace

ObjectId readXmi(PersistentStore& store, std::string text, const std::string& name,
                 ImportReport& report) {
  if (isZipArchive(text)) return readArchive(store, std::move(text), name, report);
  return readDocument(store, TextSource(text), name, report);
}

ObjectId readXmi(PersistentStore& store, const XmlSource& source, const std::string& name,
                 ImportReport& report) {
  std::string start(std::min<std::uint64_t>(source.size(), 4), '\0');
  start.resize(source.readAt(0, start.data(), start.size()));
  if (!isZipArchive(start)) return readDocument(store, source, name, report);
  // An archive is inflated in memory, within the document bound.
  const std::uint64_t most = store.settings().mostDocumentBytes;
  if (source.size() > most) {
    throw std::runtime_error("archive '" + name + "' is larger than " + std::to_string(most >> 20) +
                             " MiB");
  }
  std::string bytes(source.size(), '\0');
  bytes.resize(source.readAt(0, bytes.data(), bytes.size()));
  return readArchive(store, std::move(bytes), name, report);
}

}  // namespace model::xmi
