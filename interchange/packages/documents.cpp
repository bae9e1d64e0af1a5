// Packages as wholes: copying a package with everything it contains, writing
// it to a document and reading it back, and metamodels. Documents are the
// repository's own format, described here, or XMI (interchange/xmi/), by the
// format a client names. The model library declares these operations
// (operations.h); they live here, above both it and XMI.
//
// What a package "contains" follows the features the catalogue marks `owns`
// (owned elements, features, association ends, literals, parameters, tagged
// values, diagrams, ranges and the like), at any depth.
//
// A document is text, one record per line:
//
//   qovix-document 2
//   object N CLASS                  N numbers the objects from 1, the package first
//   value N FEATURE CLASS TEXT|NUMBER
//   item N FEATURE CLASS TEXT|NUMBER   one value of a list of values, in order
//   ref N FEATURE M                 a single reference to object M of the document
//   member N FEATURE M              a member of a collection, in order
//   end BYTES CRC                   the length and CRC-32 (hex) of all the lines before
//
// FEATURE is OWNER.NAME (`*.name` for an object's name); text is written in
// double quotes with \\, \" and \uXXXX escapes. References to objects outside
// the package are not written. A document must end with its end line and
// have the length and checksum it gives, so that a cut or changed one is
// refused; version 1, which had no end line, is still read. Every record is checked as the wire
// checks a call: the feature must be one the object's class has and of the record's kind, a value
// of the feature's value class and within it, a referenced object of the feature's element class.
//
// A package's contents are what the features marked `owns` hold, at any
// depth, and the generalizations of the generalizable elements among them.

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "model_classes.h"
#include "interchange/packages/document_files.h"
#include "interchange/packages/package_documents.h"
#include "model/qovix_srv/members.h"
#include "model/qovix_srv/operations.h"
#include "model/qovix_srv/store_view.h"
#include "interchange/xmi/uml2_writer.h"
#include "interchange/xmi/xmi_reader.h"
#include "interchange/xmi/xmi_writer.h"
#include "utf/utf.h"

namespace model {
namespace {

// The package and everything it contains, the package first.
std::vector<ObjectId> subtreeOf(const PersistentStore& store, ObjectId root) {
  const StoreView view(store);
  IdSet found;
  found.add(root);
  for (std::size_t i = 0; i < found.ids().size(); ++i) {
    const ObjectId id = found.ids()[i];
    if (view.is(id, QOVIXGeneralizableElement::kClassId)) {
      found.addAll(view.related(id, feature::QOVIXGeneralizableElement_generalization));
    }
    for (const FeatureId slot : view.writtenFeatures(id)) {
      const FeatureInfo& feature = featureInfo(slot);
      if (!feature.owns) continue;
      if (feature.kind == FeatureKind::Single || feature.kind == FeatureKind::ReadOnly) {
        found.add(view.reference(id, feature.id));
      } else {
        found.addAll(view.members(id, feature.id));
      }
    }
  }
  return found.take();
}

// Copies `ids` into new objects of `into`, keeping references among them and
// (when `keepOutside`) references to objects outside them. Returns the new
// ids in the same order.
std::vector<ObjectId> copyObjects(const PersistentStore& from, const std::vector<ObjectId>& ids,
                                  PersistentStore& into, bool keepOutside) {
  std::map<ObjectId, ObjectId> renamed;
  for (ObjectId id : ids) renamed[id] = into.create(from.classOf(id));
  auto mapped = [&](ObjectId id) -> ObjectId {
    const auto found = renamed.find(id);
    if (found != renamed.end()) return found->second;
    return keepOutside && &from == &into ? id : 0;
  };
  for (ObjectId id : ids) {
    const ObjectId copy = renamed[id];
    for (const FeatureId slot : from.writtenFeatures(id)) {
      const FeatureInfo& feature = featureInfo(slot);
      switch (feature.kind) {
        case FeatureKind::Attribute:
        case FeatureKind::Hidden:
          if (const auto value = from.value(id, feature.id))
            into.setValue(copy, feature.id, *value);
          break;
        case FeatureKind::Values:
          if (auto values = from.values(id, feature.id); !values.empty()) {
            into.setValues(copy, feature.id, std::move(values));
          }
          break;
        case FeatureKind::Single:
        case FeatureKind::ReadOnly:
          if (const ObjectId target = mapped(from.reference(id, feature.id))) {
            into.setReference(copy, feature.id, target);
          }
          break;
        case FeatureKind::Set:
        case FeatureKind::List:
        case FeatureKind::Array:
          for (ObjectId member : from.members(id, feature.id)) {
            if (const ObjectId kept = mapped(member)) into.appendMember(copy, feature.id, kept);
          }
          break;
      }
    }
  }
  std::vector<ObjectId> copies;
  for (ObjectId id : ids) copies.push_back(renamed[id]);
  return copies;
}

// How a document is written: the format's first word, and its options.
struct DocumentFormat {
  bool xmi = false;
  xmi::Uml uml = xmi::Uml::V14;  // xmi: the UML version written
  bool uml25 = false;            // xmi: UML 2.5.1 in XMI 2.5.1 instead
  bool into = false;             // xmi: the read package goes into the one read from
};

// "" or "qovix"; "xmi" (UML 1.4 in XMI 1.2), "xmi 1.2", "xmi 1.0" (UML 1.3)
// or "xmi 2.5" (UML 2.5.1 in XMI 2.5.1) to write; "xmi" or "xmi into" to
// read.
DocumentFormat formatOf(const std::string& format, bool writing) {
  std::istringstream words(format);
  std::string kind;
  std::string option;
  words >> kind >> option;
  std::string extra;
  const bool more = static_cast<bool>(words >> extra);
  DocumentFormat parsed;
  if ((kind.empty() || kind == "qovix") && option.empty()) return parsed;
  parsed.xmi = kind == "xmi";
  const bool known = option.empty() ||
                     (writing && (option == "1.2" || option == "1.0" || option == "2.5")) ||
                     (!writing && option == "into");
  if (!parsed.xmi || !known || more) {
    throw std::invalid_argument(
        "unknown document format '" + format +
        "': " + (writing ? "qovix, xmi, xmi 1.2, xmi 1.0 or xmi 2.5" : "qovix, xmi or xmi into"));
  }
  parsed.uml = option == "1.0" ? xmi::Uml::V13 : xmi::Uml::V14;
  parsed.uml25 = option == "2.5";
  parsed.into = option == "into";
  return parsed;
}

// A document name is a plain file name inside the document folder.
std::filesystem::path documentPath(const PersistentStore& store, const std::u16string& name) {
  if (store.settings().documentFolder.empty()) {
    throw std::runtime_error("this qovixd keeps no document folder: start it with --documents FOLDER "
                             "to import and export documents");
  }
  const std::string text = utf::toUtf8(name);
  if (!isDocumentName(text) || name.size() != text.size()) {
    throw std::invalid_argument("'" + text + "' is no document name");
  }
  return store.settings().documentFolder / text;
}

std::string quoted(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t unit : text) {
    if (unit == u'\\' || unit == u'"') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
      out += escape;
    }
  }
  return out + "\"";
}

// The line that ends a document whose lines before it are `body`.
std::string endLine(std::string_view body) {
  const auto crc =
      crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(body.data()), body.size());
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "%08lx", static_cast<unsigned long>(crc));
  return std::string("end ").append(std::to_string(body.size())).append(" ").append(checksum);
}

std::string featureName(const FeatureInfo& feature) {
  return (feature.owner == 0 ? std::string("*") : std::string(classInfo(feature.owner).name)) +
         "." + feature.name;
}

std::string storedText(const StoredValue& value) {
  const ValueClassInfo* info = valueClassInfo(value.valueClass);
  const std::string className = info != nullptr ? info->name : "?";
  if (info != nullptr && info->payload == ValuePayload::Text) {
    return className + " " + quoted(value.text);
  }
  return className + " " + std::to_string(value.number);
}

// The words of one record, taken from the front, without copying the line.
class Words {
 public:
  explicit Words(std::string_view line) : rest_(line) {}
  // The next word; empty at the end.
  std::string_view next() {
    skipSpaces();
    const std::size_t end = std::min(rest_.find(' '), rest_.size());
    const std::string_view word = rest_.substr(0, end);
    rest_.remove_prefix(end);
    return word;
  }
  // The next word as a number of decimal digits; false when it is none.
  bool number(std::size_t& out) {
    const std::string_view word = next();
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), out);
    return !word.empty() && error == std::errc() && end == word.data() + word.size();
  }
  // All that follows the next spaces.
  std::string_view rest() {
    skipSpaces();
    return rest_;
  }

 private:
  void skipSpaces() {
    while (!rest_.empty() && (rest_.front() == ' ' || rest_.front() == '\t'))
      rest_.remove_prefix(1);
  }
  std::string_view rest_;
};

// Reads documents, failing with the document's name and line.
class DocumentReader {
 public:
  DocumentReader(std::string name, PersistentStore& store)
      : name_(std::move(name)), store_(store) {}

  ObjectId read(const std::string& text) {
    std::string_view unread = text;
    // The next line, without its line feed; `ended` says whether it had one.
    const auto nextLine = [&unread](bool& ended) {
      const std::size_t end = unread.find('\n');
      ended = end != std::string_view::npos;
      const std::string_view line = unread.substr(0, end);
      unread.remove_prefix(ended ? end + 1 : unread.size());
      return line;
    };
    bool lineEnded = false;
    const std::string_view first = nextLine(lineEnded);
    const bool ended = first == "qovix-document 2";
    if (!ended && first != "qovix-document 1") fail("not a QOVIX document");
    std::size_t before = first.size() + 1;  // the bytes before the current line
    bool endSeen = false;
    while (!unread.empty()) {
      const std::string_view line = nextLine(lineEnded);
      ++line_;
      if (endSeen) fail("text after the end line");
      if (ended && line.starts_with("end ")) {
        if (line != endLine(std::string_view(text).substr(0, before)) || !lineEnded) {
          fail("the document does not match its end line: it was cut or changed");
        }
        endSeen = true;
        continue;
      }
      before += line.size() + 1;
      if (line.empty()) continue;
      Words words(line);
      const std::string_view record = words.next();
      if (record == "object") {
        readObject(words);
      } else if (record == "value" || record == "item" || record == "ref" || record == "member") {
        apply(record, words);
      } else {
        fail("unknown record '" + std::string(record) + "'");
      }
    }
    if (ended && !endSeen) fail("the document has no end line: it was cut short");
    for (auto& [slot, items] : items_) store_.setValues(slot.first, slot.second, std::move(items));
    if (objects_.empty()) fail("the document holds no package");
    if (!conformsTo(store_.classOf(objects_.front()), QOVIXPackage::kClassId)) {
      fail("the document's first object is no package");
    }
    return objects_.front();
  }

 private:
  [[noreturn]] void fail(const std::string& message) const {
    throw std::runtime_error("document '" + name_ + "' line " + std::to_string(line_ + 1) + ": " +
                             message);
  }

  void readObject(Words& words) {
    static const std::unordered_map<std::string, ClassId> classes = [] {
      std::unordered_map<std::string, ClassId> made;
      for (const ClassInfo& info : modelClasses()) made.emplace(info.name, info.id);
      return made;
    }();
    std::size_t number = 0;
    const bool numbered = words.number(number);
    const std::string className(words.next());
    if (!numbered || className.empty() || number != objects_.size() + 1) fail("bad object record");
    const auto found = classes.find(className);
    if (found == classes.end()) fail("unknown class '" + className + "'");
    objects_.push_back(store_.create(found->second));
  }

  ObjectId object(std::size_t number) const {
    if (number < 1 || number > objects_.size()) fail("no object " + std::to_string(number));
    return objects_[number - 1];
  }

  const FeatureInfo& feature(const std::string& name) const {
    static const std::unordered_map<std::string, const FeatureInfo*> features = [] {
      std::unordered_map<std::string, const FeatureInfo*> made;
      for (const FeatureInfo& each : modelFeatures()) made.emplace(featureName(each), &each);
      return made;
    }();
    const auto found = features.find(name);
    if (found == features.end()) fail("unknown feature '" + name + "'");
    return *found->second;
  }

  StoredValue value(Words& words, const FeatureInfo& target) const {
    const std::string className(words.next());
    const ValueClassInfo* info = nullptr;
    for (const ValueClassInfo& each : valueClasses()) {
      if (className == each.name) info = &each;
    }
    if (info == nullptr) fail("unknown value class '" + className + "'");
    if (target.valueClass != 0 && info->id != target.valueClass) {
      fail(featureName(target) + " holds no " + className);
    }
    StoredValue stored{info->id, 0, {}};
    const std::string rest(words.rest());
    if (info->payload == ValuePayload::Text) {
      stored.text = unquoted(rest);
      if (stored.text.size() > utf::kMostTextUnits) {
        fail(featureName(target) + " holds text of " + std::to_string(stored.text.size()) +
             " UTF-16 units; a value holds at most " + std::to_string(utf::kMostTextUnits));
      }
    } else {
      try {
        std::size_t used = 0;
        stored.number = std::stoi(rest, &used);
        if (used != rest.size()) fail("bad number '" + rest + "'");
      } catch (const std::logic_error&) {
        fail("bad number '" + rest + "'");
      }
    }
    if (!takesPayload(*info, stored.number, stored.text)) {
      fail("a " + className + " cannot hold " + rest);
    }
    return stored;
  }

  std::u16string unquoted(const std::string& text) const {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') fail("text not quoted");
    std::u16string out;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      if (text[i] != '\\') {
        out += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
        continue;
      }
      if (i + 2 >= text.size()) fail("bad escape");
      if (text[i + 1] == 'u') {
        if (i + 6 >= text.size()) fail("bad escape");
        const std::string hex = text.substr(i + 2, 4);
        if (hex.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
          fail("bad escape");
        out += static_cast<char16_t>(std::stoul(hex, nullptr, 16));
        i += 5;
      } else {
        out += static_cast<char16_t>(text[i + 1]);
        ++i;
      }
    }
    return out;
  }

  // Whether a feature of this kind is written by a record of this kind.
  static bool recordFits(std::string_view record, FeatureKind kind) {
    switch (kind) {
      case FeatureKind::Attribute:
      case FeatureKind::Hidden:
        return record == "value";
      case FeatureKind::Values:
        return record == "item";
      case FeatureKind::Single:
      case FeatureKind::ReadOnly:
        return record == "ref";
      case FeatureKind::Set:
      case FeatureKind::List:
      case FeatureKind::Array:
        return record == "member";
    }
    return false;
  }

  void apply(std::string_view record, Words& words) {
    std::size_t number = 0;
    const bool numbered = words.number(number);
    const std::string name(words.next());
    if (!numbered || name.empty()) fail("bad " + std::string(record) + " record");
    const ObjectId id = object(number);
    const FeatureInfo& target = feature(name);
    const ClassId objectClass = store_.classOf(id);
    if (target.owner != 0 && !conformsTo(objectClass, target.owner)) {
      fail(std::string(classInfo(objectClass).name) + " has no " + featureName(target));
    }
    if (!recordFits(record, target.kind)) {
      fail(featureName(target) + " is not written by " + std::string(record));
    }
    if (record == "value") {
      store_.setValue(id, target.id, value(words, target));
    } else if (record == "item") {
      // Written whole at the end: a list written item by item would be
      // written again for each.
      auto [items, first] = items_.try_emplace({id, target.id});
      if (first) items->second = store_.values(id, target.id);
      items->second.push_back(value(words, target));
    } else {
      std::size_t other = 0;
      if (!words.number(other)) fail("bad " + std::string(record) + " record");
      const ObjectId referred = object(other);
      if (target.elementClass != 0 && !conformsTo(store_.classOf(referred), target.elementClass)) {
        fail(featureName(target) + " cannot hold a " + classInfo(store_.classOf(referred)).name);
      }
      if (record == "ref") {
        store_.setReference(id, target.id, referred);
      } else {
        store_.appendMember(id, target.id, referred);
      }
    }
  }

  std::string name_;
  PersistentStore& store_;
  std::vector<ObjectId> objects_;
  std::map<std::pair<ObjectId, FeatureId>, std::vector<StoredValue>> items_;  // lists read so far
  std::size_t line_ = 0;
};

}  // namespace

namespace {

// An import makes as many objects as its document holds, which the document
// bound bounds: while it reads, the bound of what one call makes gives way
// to the repository's own, and its history keeps the objects it makes as
// made, not each slot it writes in them (PersistentStore).
class DocumentSizedCall {
 public:
  explicit DocumentSizedCall(PersistentStore& store)
      : store_(store), limits_(store.settings().limits), saved_(limits_.mostCreatedPerTransaction) {
    limits_.mostCreatedPerTransaction = std::max(saved_, limits_.mostObjects);
    store_.recordMadeObjectsBriefly(true);
    store_.settings().smallCallCache = true;
  }
  ~DocumentSizedCall() {
    limits_.mostCreatedPerTransaction = saved_;
    store_.recordMadeObjectsBriefly(false);
    store_.settings().smallCallCache = false;
  }
  DocumentSizedCall(const DocumentSizedCall&) = delete;
  DocumentSizedCall& operator=(const DocumentSizedCall&) = delete;

 private:
  PersistentStore& store_;
  StoreLimits& limits_;
  std::size_t saved_;
};

// The document `name` of the store's folder, opened.
DocumentFile openInFolder(const PersistentStore& store, const std::u16string& name) {
  const std::filesystem::path path = documentPath(store, name);
  return DocumentFile(path.parent_path(), path.filename().string(),
                      store.settings().mostDocumentBytes);
}

// Whether the document is a QOVIX document, not XMI.
bool isQovixDocument(const DocumentFile& file) {
  constexpr std::string_view kStart = "qovix-document ";
  std::string start(kStart.size(), '\0');
  start.resize(file.readAt(0, start.data(), start.size()));
  return start == kStart;
}

// The package `read` placed in the package `into` (nothing when it is that one).
void placeInto(PersistentStore& store, ObjectId read, ObjectId into) {
  if (read == into) return;
  store.appendMember(into, feature::QOVIXNamespace_ownedElement, read);
  store.appendMember(read, feature::QOVIXModelElement_namespace1, into);
}

}  // namespace

// A deep copy of the package (with everything it contains) placed in `into`.
ObjectRef copyModel(const VornPersistentObject& package, const VornPersistentObject& into) {
  const ObjectRef ref = named(package);
  const ObjectId target = memberOf(package, into);
  const std::vector<ObjectId> contained = subtreeOf(*ref.store, ref.id);
  // A copy placed inside what it copies would be copied again by the next
  // copy: each call would double the repository.
  if (std::find(contained.begin(), contained.end(), target) != contained.end()) {
    throw std::invalid_argument("a package cannot be copied into itself or its own contents");
  }
  const std::vector<ObjectId> copies = copyObjects(*ref.store, contained, *ref.store, true);
  ref.store->appendMember(target, feature::QOVIXNamespace_ownedElement, copies.front());
  ref.store->clearMembers(copies.front(), feature::QOVIXModelElement_namespace1);
  ref.store->appendMember(copies.front(), feature::QOVIXModelElement_namespace1, target);
  return ObjectRef{ref.store, copies.front()};
}

void externalize(const VornPersistentObject& package, const TextValue& format,
                 const TextValue& document) {
  const ObjectRef ref = named(package);
  writePackageDocument(*ref.store, ref.id, utf::toUtf8(format.text()),
                       utf::toUtf8(document.text()));
}

WrittenDocument writePackageDocument(const PersistentStore& store, ObjectId package,
                                     const std::string& format, const std::string& document) {
  const DocumentFormat written = formatOf(format, true);
  const std::filesystem::path path = documentPath(store, utf::toUtf16(document));
  const std::vector<ObjectId> ids = subtreeOf(store, package);
  if (written.xmi) {
    // Written to the file as it is made: an export never holds its document.
    DocumentFileWriter file(path.parent_path(), path.filename().string(),
                            store.settings().mostDocumentBytes);
    const xmi::XmlSink sink = [&file](std::string_view piece) { file.write(piece); };
    xmi::ExportReport report;
    if (written.uml25) {
      xmi::writeUml25(store, ids, report, sink);
    } else {
      xmi::writeXmi(store, ids, written.uml, report, sink);
    }
    file.finish();
    return {file.size(), report.text()};
  }
  std::map<ObjectId, std::size_t> number;
  for (ObjectId id : ids) number[id] = number.size() + 1;

  std::ostringstream out;
  out << "qovix-document 2\n";
  for (ObjectId id : ids)
    out << "object " << number[id] << ' ' << classInfo(store.classOf(id)).name << '\n';
  for (ObjectId id : ids) {
    const std::size_t n = number[id];
    for (const FeatureId slot : store.writtenFeatures(id)) {
      const FeatureInfo& feature = featureInfo(slot);
      const std::string name = featureName(feature);
      if (const auto value = store.value(id, feature.id)) {
        out << "value " << n << ' ' << name << ' ' << storedText(*value) << '\n';
      }
      for (const StoredValue& each : store.values(id, feature.id)) {
        out << "item " << n << ' ' << name << ' ' << storedText(each) << '\n';
      }
      if (const ObjectId target = store.reference(id, feature.id); number.count(target)) {
        out << "ref " << n << ' ' << name << ' ' << number[target] << '\n';
      }
      for (ObjectId member : store.members(id, feature.id)) {
        if (number.count(member))
          out << "member " << n << ' ' << name << ' ' << number[member] << '\n';
      }
    }
  }
  const std::string body = out.str();
  const std::string text = std::string(body).append(endLine(body)).append("\n");
  writeDocumentFile(path.parent_path(), path.filename().string(), text,
                    store.settings().mostDocumentBytes);
  return {text.size(), {}};
}

// A new package, with everything it contains, read from the document.
ObjectRef internalize(const VornPersistentObject& package, const TextValue& format,
                      const TextValue& document) {
  const ObjectRef ref = named(package);
  const DocumentFormat read = formatOf(utf::toUtf8(format.text()), false);
  const DocumentFile file = openInFolder(*ref.store, document.text());
  const DocumentSizedCall sized(*ref.store);
  if (!read.xmi) {
    DocumentReader reader(utf::toUtf8(document.text()), *ref.store);
    return ObjectRef{ref.store, reader.read(file.text())};
  }
  xmi::ImportReport report;
  const ObjectId imported = xmi::readXmi(*ref.store, file, utf::toUtf8(document.text()), report);
  if (read.into) placeInto(*ref.store, imported, ref.id);
  return ObjectRef{ref.store, imported};
}

ReadDocument readPackageDocument(PersistentStore& store, const std::string& document,
                                 const std::string& title, ObjectId into) {
  const DocumentFile file = openInFolder(store, utf::toUtf16(document));
  const std::string shown = title.empty() ? document : title;
  const DocumentSizedCall sized(store);
  ReadDocument read;
  if (isQovixDocument(file)) {
    DocumentReader reader(shown, store);
    read.package = reader.read(file.text());
    read.report = "a QOVIX document: imported " +
                  std::to_string(subtreeOf(store, read.package).size()) + " objects\n";
  } else {
    xmi::ImportReport report;
    read.package = xmi::readXmi(store, file, shown, report);
    read.report = report.text();
  }
  if (into != 0) placeInto(store, read.package, into);
  return read;
}

// Whether the package can define a metamodel: it and everything it contains
// are well formed, and (when `strict`) every model element in it is named.
bool createMetaModel(const VornPersistentObject& package, bool strict) {
  const ObjectRef ref = named(package);
  const StoreView view(*ref.store);
  for (ObjectId id : subtreeOf(*ref.store, ref.id)) {
    const ObjectRef each{ref.store, id};
    if (!checkWellFormedness(QOVIXModelElement(each))) return false;
    if (strict && view.is(id, QOVIXModelElement::kClassId) &&
        view.text(id, feature::name).empty()) {
      return false;
    }
  }
  return true;
}

void constructFromMetaModel(const VornPersistentObject& self, const VornMetaModel& metaModel,
                            const VornPersistentObject& owner) {
  const ObjectRef ref = named(self);
  const ObjectId ownerId = memberOf(self, owner);
  PersistentStore& store = *ref.store;
  const std::u16string name(metaModel.name().begin(), metaModel.name().end());
  store.setValue(ref.id, feature::name, StoredValue{QOVIXName::kValueClassId, 0, name});
  const ObjectRef defining = metaModel.definingPackage();
  if (defining.store == &store && store.exists(defining.id)) {
    std::vector<ObjectId> contained = subtreeOf(store, defining.id);
    contained.erase(contained.begin());  // the contents, not the defining package
    const std::vector<ObjectId> copies = copyObjects(store, contained, store, true);
    const StoreView view(store);
    const std::vector<ObjectId> members =
        view.members(defining.id, feature::QOVIXNamespace_ownedElement);
    const std::unordered_set<ObjectId> direct(members.begin(), members.end());
    for (std::size_t i = 0; i < contained.size(); ++i) {
      if (direct.count(contained[i]) != 0) {
        store.appendMember(ref.id, feature::QOVIXNamespace_ownedElement, copies[i]);
      }
    }
  }
  store.appendMember(ownerId, feature::QOVIXNamespace_ownedElement, ref.id);
}

}  // namespace model
