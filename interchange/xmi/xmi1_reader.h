#pragma once

// The reader of XMI 1.x documents (xmi_reader.h), whose parts live in
// files of their own: the first pass finds the document's elements
// (xmi1_survey.cpp); the second makes their properties (xmi1_properties.cpp);
// what the versions and drafts write differently is read apart
// (xmi1_versions.cpp). Only those files and xmi_reader.cpp include this.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "interchange/xmi/element_frames.h"
#include "interchange/xmi/import_report.h"
#include "interchange/xmi/ownership_circles.h"
#include "interchange/xmi/xmi_names.h"
#include "interchange/xmi/xml_document.h"
#include "interchange/xmi/xml_stream.h"
#include "model/qovix_srv/model_metadata.h"
#include "model_classes.h"
#include "store/persistent_store.h"

namespace model::xmi::xmi1 {

inline std::string lastSegment(const std::string& tag) { return tag.substr(tag.rfind('.') + 1); }

// XMI names metaclasses (Foundation.Core.Class, UML:Class) with a capital
// and properties (Foundation.Core.ModelElement.name) after their owner.
inline bool isMetaclassTag(std::string_view tag) {
  const std::string_view last = tag.substr(tag.rfind('.') + 1);
  return !last.empty() && last[0] >= 'A' && last[0] <= 'Z';
}

inline std::pair<std::string, std::string> propertyParts(const std::string& tag) {
  const std::size_t dot = tag.rfind('.');
  if (dot == std::string::npos || dot == 0) return {"", tag.substr(dot + 1)};
  const std::size_t before = tag.rfind('.', dot - 1);
  const std::size_t start = before == std::string::npos ? 0 : before + 1;
  return {tag.substr(start, dot - start), tag.substr(dot + 1)};
}

inline bool endsWith(std::string_view text, std::string_view end) { return text.ends_with(end); }

inline std::string className(ClassId id) { return classInfo(id).shortName; }

// The one composite feature of an `ownerClass` object that holds a
// `childClass` object, the most specific where several do; 0 for none, or
// no one most specific.
FeatureId holdingFeature(ClassId ownerClass, ClassId childClass);

enum class Role : std::uint8_t { Object, Realization, TagDefinition, ExtensionPoint, Skipped };

// An element of the document the reader makes something of: an object
// definition.
struct Node {
  // Its element while the reader works on it; kept for the whole reading
  // for the few kinds other elements ask about (keptWhole).
  const XmlElement* element = nullptr;
  const char* metaclass = "";      // as the document names it, without package or prefix
  std::uint64_t digest = 0;        // of all it holds, once it has ended (digested)
  std::uint32_t ordinal = 0;       // its place among the document's elements, from 0
  std::uint32_t parent = kUnread;  // the definition the document writes it inside, if any
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

inline std::string_view withoutPrefix(std::string_view name) {
  return name.substr(name.find(':') + 1);
}

inline std::string_view streamAttribute(const XmlStart& start, std::string_view name,
                                        bool* present) {
  for (const XmlStreamAttribute& each : start.attributes) {
    if (each.space.empty() && each.name == name) {
      *present = true;
      return each.value;
    }
  }
  *present = false;
  return {};
}

inline std::string_view streamAttribute(const XmlStart& start, std::string_view name) {
  bool present = false;
  return streamAttribute(start, name, &present);
}

inline bool isStreamReference(const XmlStart& start) {
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
inline ElementFrames::Keep keepFor(const XmlStart& start) {
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
  // `counted`: the elements of the document this one was translated from,
  // which the report counts instead of this one's.
  Reader(PersistentStore& store, std::string name, ImportReport& report,
         const ImportReport* counted = nullptr)
      : store_(store), name_(std::move(name)), report_(report), counted_(counted) {}
  ObjectId read(const XmlSource& source);

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
  // The first pass: every object definition becomes a node.

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
  // What becomes of the document's elements inside an open element: each
  // decides its own (a definition, an object's property), or all are
  // skipped with it, read into it, or follow an element defined again.
  enum class Fate : std::uint8_t { None, Decide, Skip, Into, Repeat };
  struct Open {
    Within within;
    Fate fate = Fate::None;     // None: outside the model (the header, a tool's extension)
    std::size_t repeatAt = 0;   // for Repeat: the open element defined again
    bool ours = false;  // inside QOVIX's own extension
    bool frame = false;
    std::uint32_t node = kUnread;  // for Definition, Extension, Property and Repeated
    FeatureId given = 0;    // for Property: the end it gives, until an element inside gives it
    int counted = 0;        // for Counting; for Repeated, the elements it holds, itself too
    std::string what = {};  // for Counting and Repeated: what the report names
    std::uint32_t again = kUnread;  // for Repeated: its node, kept should it differ
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

  // xmi1_survey.cpp
  void surveyStart(const XmlStart& element);
  void surveyText(std::string_view characters);
  void surveyEnd();
  void decideFate(Open& open, Fate inherited, bool held, std::uint32_t reading);
  void countFates();
  void skipExtension(const XmlStart& extension);
  void keepAgain(const Open& open);
  std::uint32_t define(const XmlStart& element, const std::string& tag, std::uint32_t ordinal,
                       bool topLevel, bool ours, Open& open);
  FeatureId endGiven(std::uint32_t index, const std::string& tag);
  std::string_view keepId(std::string_view id);
  std::uint32_t defineNested(std::uint32_t owner, const XmlStart& child, const std::string& tag,
                             std::uint32_t ordinal, bool ours, Open& open);

  // What the versions and the drafts before XMI 1.0 write differently
  // (xmi1_versions.cpp): the header, UML 1.1's realizations and tags.
  void readRoot(const XmlStart& root, const std::string& tag);
  void readHeader(const XmlElement* header);
  void readMetamodel(const XmlElement* item);
  void decideClasses();
  ObjectId inSequence(ObjectId action);
  void linkMultiplicity(const Node& node, const FeatureInfo& info, const std::string& text,
                        const std::string& shown);
  void tagFromDefinition(std::size_t index, const std::string& text, const XmlElement* property,
                         const std::string& shown);
  void applyRealizations();

  // The second pass: each object's properties, from its element.

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

  // xmi1_properties.cpp
  void applyNested();
  bool linkOwned(std::size_t owner, std::size_t child, FeatureId feature);
  void applicationStart(const XmlStart& element);
  void applyFrame(const XmlElement* element);
  std::string nameOf(const Node& node) const;
  std::vector<std::string> idsIn(const std::string& text) const;
  std::vector<std::size_t> targetsOf(const XmlElement* element, const std::string& name);
  std::optional<std::size_t> resolve(const XmlElement* target, bool report);
  ObjectId objectOf(std::size_t index);
  void applyProperties(std::size_t index);
  void applyElementProperty(std::size_t index, const XmlElement* property);
  void applyProperty(std::size_t index, const std::string& owner, const std::string& name,
                     const std::string& text, const XmlElement* property);
  FeatureId featureFor(ClassId classId, const std::string& owner, const std::string& name);
  std::string valueText(const XmlElement* property) const;
  std::optional<StoredValue> parseValue(const Node& node, const FeatureInfo& info,
                                        const std::string& text) const;
  void applyValue(const Node& node, const FeatureInfo& info, const std::string& text,
                  const std::string& shown);
  void applyValues(const Node& node, const FeatureInfo& info, const std::string& text,
                   const XmlElement* property);
  void applyLinks(std::uint32_t index, const FeatureInfo& info, const std::string& text,
                  const XmlElement* property, const std::string& shown);
  void noteOwnership(ObjectId from, FeatureId feature, ObjectId to);
  void completeOppositeEnd(std::uint32_t from, FeatureId feature, ObjectId target,
                           std::uint32_t end, ClassId targetClass);

  // The end (xmi_reader.cpp): what the document defines outside a package
  // is placed in one, and the report goes on it.
  void placeUnowned(const std::unordered_set<ObjectId>& owned);
  ObjectId placeInPackage();
  void attachReport(ObjectId package);

  PersistentStore& store_;
  std::string name_;
  ImportReport& report_;
  const ImportReport* counted_;
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
  std::vector<Node> againNodes_;               // an element defined again, as its own
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

}  // namespace model::xmi::xmi1
