#include "interchange/xmi/xmi_reader.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "interchange/xmi/model_archive.h"
#include "interchange/xmi/ownership_circles.h"
#include "interchange/xmi/uml2_reading.h"
#include "interchange/xmi/xmi1_reader.h"
#include "interchange/xmi/xml_document.h"
#include "interchange/xmi/xml_stream.h"
#include "model/qovix_srv/ownership.h"
#include "model_classes.h"
#include "utf/utf.h"

namespace model::xmi {
namespace xmi1 {
namespace {

// The tag a report names the import by, on the imported package.
constexpr char16_t kReportTag[] = u"qovix.import";

}  // namespace

ObjectId Reader::read(const XmlSource& source) {
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
  countFates();
  ordinal_ = 0;
  Application application(*this);
  streamXml(source, name_, kMostXmiDepth, application);
  if (ordinal_ != elements || nextNode_ != nodes_.size()) changedWhileRead();
  applyNested();
  applyRealizations();
  // What the links made own, as the reading noted them: only the rest are
  // asked of the store, whether anything owns them.
  std::unordered_set<ObjectId> owned;
  owned.reserve(ownershipLinks_.size());
  for (const OwnershipLink& link : ownershipLinks_) owned.insert(link.owned);
  const std::size_t cut = cutOwnershipCircles(store_, std::move(ownershipLinks_));
  if (cut != 0) {
    skip("an element inside itself",
         "an id given to an element and to what it holds, or owners named in a circle: "
         "the link that closes the circle is left out",
         static_cast<int>(cut));
  }
  placeUnowned(cut == 0 ? owned : std::unordered_set<ObjectId>{});
  if (counted_ != nullptr) {
    report_.held = counted_->held;
    report_.readAsObjects = counted_->readAsObjects;
    report_.readInto = counted_->readInto;
    report_.skippedElements = counted_->skippedElements;
  }
  const ObjectId package = placeInPackage();
  attachReport(package);
  return package;
}

// An element written inside another that owns nothing of its kind there (a
// comment in an attribute's ModelElement.comment, a tagged value in a
// namespace's owned elements whose element is not in the document) would be
// imported and reached by nothing: it goes into the nearest element around
// it that can own it, and the report says where. `owned` holds what the
// reading's links own, which no store need be asked about (none after a
// circle was cut).
void Reader::placeUnowned(const std::unordered_set<ObjectId>& owned) {
  for (std::size_t index = 0; index < nodes_.size(); ++index) {
    const Node& node = nodes_[index];
    if (node.role != Role::Object || node.topLevel || node.parent == kUnread) continue;
    if (node.classId == QOVIXGeneralization::kClassId) continue;  // its subtype holds it
    if (owned.count(node.object) != 0 || isOwned(store_, node.object)) continue;
    const std::string what = std::string(node.metaclass)
                                 .append(" inside ")
                                 .append(withArticle(nodes_[node.parent].metaclass));
    bool placed = false;
    for (std::uint32_t at = node.parent; at != kUnread && !placed; at = nodes_[at].parent) {
      const Node& around = nodes_[at];
      if (around.role != Role::Object) continue;
      const FeatureId holding = holdingFeature(around.classId, node.classId);
      if (holding == 0 || !linkOwned(at, index, holding)) continue;
      // Its own end too, whatever the document gives there: that named
      // nothing it holds.
      completeOppositeEnd(at, holding, node.object, kUnread, node.classId);
      report_.deviate(what + ", which owns none there", std::string("placed in the ")
                                                            .append(featureInfo(holding).name)
                                                            .append(" of the ")
                                                            .append(around.metaclass)
                                                            .append(" around it"));
      placed = true;
    }
    if (!placed) skip(what, "no element around it can own it, and nothing else does");
  }
}

// The document's one top-level package receives the other top-level
// elements no namespace owns (generalizations excepted: UML needs no owner
// for them). Without exactly one, a new package named after the
// document holds them all.
ObjectId Reader::placeInPackage() {
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
void Reader::attachReport(ObjectId package) {
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

}  // namespace xmi1

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
  if (!isUml2Document(&rootElement)) return xmi1::Reader(store, name, report).read(source);
  std::string uml14;
  {
    const XmlDocument document = parseXml(source, name, kMostXmiDepth);
    uml14 = uml14Of(document.root(), report, report.translatedFrom);
  }
  // The document's elements are the UML 2 document's, as the translation
  // counted them, not those of the model it stands for.
  const ImportReport counted = report;
  return xmi1::Reader(store, name, report, &counted).read(TextSource(uml14));
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
