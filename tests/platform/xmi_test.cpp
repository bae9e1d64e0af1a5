// XMI documents: models from other UML tools read in, every class written
// out and read back whole, and hostile documents refused.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "model_classes.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/undo.h"
#include "model/wkm_srv/value_class_info.h"
#include "interchange/packages/package_documents.h"
#include "interchange/xmi/xmi_reader.h"
#include "utf/utf.h"

namespace {

const QOVIXUninterpreted kXmi(u"xmi");

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Xmi : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("qovix-xmi-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    repository.store().settings().documentFolder = folder;
    other.store().settings().documentFolder = folder;
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  QOVIXPackage importSample(const char* name) {
    std::filesystem::copy_file(std::filesystem::path(QOVIX_XMI_SAMPLES) / name, folder / name);
    return anchor.internalize(kXmi, QOVIXString(std::u16string(name, name + std::strlen(name))));
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(folder / name, std::ios::binary) << text;
  }

  PersistentStore& store() { return repository.store(); }
  std::string text(ObjectId id, FeatureId feature) {
    const auto value = store().value(id, feature);
    std::string out;
    for (char16_t unit : value ? value->text : u"") out += static_cast<char>(unit);
    return out;
  }
  // The element of `classId` named `name` (the first).
  ObjectId named(ClassId classId, const std::string& name) {
    for (ObjectId id : store().instancesOf(conformingClasses(classId))) {
      if (text(id, feature::name) == name) return id;
    }
    ADD_FAILURE() << "no element named " << name;
    return 0;
  }
  std::string report(const QOVIXPackage& package) {
    return text(
        QOVIXModelElement::cast(package, 1).getTaggedValue(QOVIXName(u"qovix.import")).objectId(),
        feature::QOVIXTaggedValue_umlValue);
  }

  std::filesystem::path folder;
  VORN repository{"xmi"};
  VORN other{"other"};
  QOVIXPackage anchor{repository};
};

TEST_F(Xmi, Uml13InXmi10AsTheOpenSourceLibrariesWroteIt) {
  const QOVIXPackage library = importSample("uml13_xmi10_nsuml_style.xmi");
  EXPECT_EQ(store().classOf(library.objectId()), QOVIXModel::kClassId);
  EXPECT_EQ(text(library.objectId(), feature::name), "Library");
  const ObjectId book = named(QOVIXClass::kClassId, "Book");
  const ObjectId novel = named(QOVIXClass::kClassId, "Novel");
  EXPECT_EQ(store().value(book, feature::QOVIXGeneralizableElement_isAbstract)->number, 1);
  // A forward reference (the generalization), and both its ends.
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), novel}).allSupertypes().ids(),
            std::vector<ObjectId>{book});
  const ObjectId title = named(QOVIXAttribute::kClassId, "title");
  EXPECT_EQ(store().members(book, feature::QOVIXClassifier_feature).front(), title);
  EXPECT_EQ(store().value(title, feature::QOVIXFeature_visibility)->number, 2);  // private
  EXPECT_EQ(store().value(title, feature::QOVIXStructuralFeature_changeable)->number, 1);  // frozen
  EXPECT_EQ(text(title, feature::QOVIXAttribute_initialValue), "\"untitled\"");
  QOVIXMultiplicity once(
      ObjectRef{&store(), store().reference(title, feature::QOVIXStructuralFeature_multiplicity)});
  EXPECT_EQ(once.getValue().text(), u"1");
  const ObjectId borrower = named(QOVIXAssociationEnd::kClassId, "borrower");
  QOVIXMultiplicity many(
      ObjectRef{&store(), store().reference(borrower, feature::QOVIXAssociationEnd_multiplicity)});
  EXPECT_EQ(many.getValue().text(), u"0..*");
  EXPECT_EQ(store()
                .value(named(QOVIXAssociationEnd::kClassId, "loans"),
                       feature::QOVIXAssociationEnd_isOrdered)
                ->number,
            1);
  // «realize» is UML 1.1's realization between classifiers.
  const ObjectId lendable = named(QOVIXInterface::kClassId, "Lendable");
  EXPECT_EQ(store().members(novel, feature::QOVIXClassifier_specification),
            std::vector<ObjectId>{lendable});
  EXPECT_EQ(store().members(lendable, feature::QOVIXClassifier_realization),
            std::vector<ObjectId>{novel});
  const QOVIXTaggedValue author =
      QOVIXModelElement(ObjectRef{&store(), book}).getTaggedValue(QOVIXName(u"author"));
  EXPECT_EQ(text(author.objectId(), feature::QOVIXTaggedValue_umlValue), "Ada & Co");
  const ObjectId borrow = named(QOVIXUseCase::kClassId, "Borrow");
  EXPECT_EQ(store().values(borrow, feature::QOVIXUseCase_extensionPoint).size(), 2u);

  const std::string said = report(library);
  for (const char* line :
       {"XMI 1.0, UML 1.3, written by Novosoft UML Library 0.4.20", "  2 Class\n",
        "  1 Abstraction ", "  1 Include: UML 1.1 has no such metaclass",
        "  1 XMI.extension (ArgoUML): a tool's own data",
        "  1 ModelElement.isSpecification: UML 1.1 has no such feature"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line << " not in\n" << said;
  }
}

TEST_F(Xmi, Uml13InXmi11AsTheCommercialAddInsWroteIt) {
  const QOVIXPackage orders = importSample("uml13_xmi11_rose_style.xmi");
  EXPECT_EQ(text(orders.objectId(), feature::name), "Orders");
  const ObjectId order = named(QOVIXClass::kClassId, "Order");
  const ObjectId reservation = named(QOVIXClass::kClassId, "R\xe9servation");  // from Latin-1
  EXPECT_EQ(store().value(order, feature::QOVIXGeneralizableElement_isRoot)->number, 1);
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), reservation}).allSupertypes().ids(),
            std::vector<ObjectId>{order});
  // Idref lists in attributes, from either end.
  const ObjectId entity = named(QOVIXStereotype::kClassId, "entity");
  EXPECT_EQ(store().members(order, feature::QOVIXModelElement_stereotype),
            std::vector<ObjectId>{entity});
  EXPECT_EQ(store().classOf(named(QOVIXDependency::kClassId, "traces")), QOVIXTrace::kClassId);
  EXPECT_EQ(store().classOf(named(QOVIXDependency::kClassId, "needs")), QOVIXDependency::kClassId);
  const ObjectId done = named(QOVIXPseudostate::kClassId, "Done");
  EXPECT_EQ(store().value(done, feature::QOVIXPseudostate_kind)->number, 6);  // final
  const ObjectId open = named(QOVIXState::kClassId, "Open");
  ASSERT_EQ(store().members(open, feature::QOVIXStateVertex_incoming).size(), 1u);
  const ObjectId shipping = named(QOVIXPackage::kClassId, "Shipping");
  EXPECT_EQ(store().value(shipping, feature::QOVIXModelElement_elemOwnershipVisibility)->number, 1);
  EXPECT_EQ(
      store().members(named(QOVIXClass::kClassId, "Parcel"), feature::QOVIXModelElement_namespace1),
      std::vector<ObjectId>{shipping});
  EXPECT_EQ(store().reference(named(QOVIXClassifierRole::kClassId, "buyer"),
                              feature::QOVIXClassifierRole_base),
            order);
  const std::string said = report(orders);
  EXPECT_NE(said.find("written by Unisys.JCR.2 1.3.2"), std::string::npos) << said;
  EXPECT_NE(said.find("  1 Class.isSpecification: UML 1.1 has no such feature"), std::string::npos)
      << said;
}

TEST_F(Xmi, Uml14InXmi12AsTheModellingToolsWroteIt) {
  const QOVIXPackage shop = importSample("uml14_xmi12_magicdraw_style.xmi");
  const ObjectId customer = named(QOVIXClass::kClassId, "Customer");
  const QOVIXTaggedValue tier =
      QOVIXModelElement(ObjectRef{&store(), customer}).getTaggedValue(QOVIXName(u"tier"));
  EXPECT_EQ(text(tier.objectId(), feature::QOVIXTaggedValue_umlValue), "gold");
  EXPECT_EQ(
      text(store().members(customer, feature::QOVIXModelElement_stereotype).at(0), feature::name),
      "vip");
  EXPECT_EQ(store().members(customer, feature::QOVIXClassifier_specification),
            std::vector<ObjectId>{named(QOVIXInterface::kClassId, "Payer")});
  const ObjectId email = named(QOVIXAttribute::kClassId, "email");
  EXPECT_EQ(store().reference(email, feature::QOVIXStructuralFeature_type), 0u);  // in a profile
  QOVIXMultiplicity any(
      ObjectRef{&store(), store().reference(email, feature::QOVIXStructuralFeature_multiplicity)});
  EXPECT_EQ(any.getValue().text(), u"0..*");
  EXPECT_EQ(store()
                .value(named(QOVIXOperation::kClassId, "pay"), feature::QOVIXFeature_visibility)
                ->number,
            1);
  const ObjectId amount = named(QOVIXParameter::kClassId, "amount");
  EXPECT_EQ(store().value(amount, feature::QOVIXParameter_kind)->number, 0);
  EXPECT_EQ(text(amount, feature::QOVIXParameter_defaultValue), "0");
  const ObjectId orders = named(QOVIXAssociationEnd::kClassId, "orders");
  EXPECT_EQ(store().value(orders, feature::QOVIXAssociationEnd_aggregation)->number, 2);
  EXPECT_EQ(store().value(orders, feature::QOVIXAssociationEnd_changeable)->number, 2);
  EXPECT_EQ(store().reference(orders, feature::QOVIXAssociationEnd_type),
            named(QOVIXClass::kClassId, "Order"));
  EXPECT_EQ(
      store()
          .members(named(QOVIXEnumeration::kClassId, "Status"), feature::QOVIXEnumeration_literal)
          .size(),
      2u);
  EXPECT_EQ(named(QOVIXComment::kClassId, "Prices include VAT") != 0, true);
  const ObjectId checkout = named(QOVIXUseCase::kClassId, "Checkout");
  EXPECT_EQ(store().values(checkout, feature::QOVIXUseCase_extensionPoint).at(0).text,
            u"after basket");

  const std::string said = report(shop);
  for (const char* line :
       {"XMI 1.2, UML 1.4, written by MagicDraw UML 9.0", "  1 Diagram: diagrams are drawings",
        "  1 diagram elements: inside a Diagram",
        "  2 XMI.extension (MagicDraw UML 9.0): a tool's own data",
        "  1 TagDefinition: its name is the tag",
        "  1 href=\"http://argouml.org/profiles/uml14/default-uml14.xmi#...\": refers outside",
        "  1 Comment.annotatedElement: UML 1.1 has no such feature",
        "  1 Include: UML 1.1 has no such metaclass"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line << " not in\n" << said;
  }
}

// One object of every class a package can hold, with every feature set:
// values with text XML must escape, two members in each collection. What
// owns what goes from earlier objects to later ones, so that no element is
// inside itself (an import takes such a circle apart).
ObjectId everyClass(PersistentStore& store) {
  const ObjectId root = store.create(QOVIXModel::kClassId);
  std::vector<ObjectId> all{root};
  for (const ClassInfo& info : modelClasses()) {
    for (const FeatureInfo& feature : modelFeatures()) {
      if (feature.owns && conformsTo(info.id, feature.elementClass)) {
        all.push_back(store.create(info.id));
        break;
      }
    }
  }
  for (ObjectId id : all) {
    const ClassId classId = store.classOf(id);
    for (const FeatureInfo& feature : modelFeatures()) {
      if (feature.owner != 0 && !conformsTo(classId, feature.owner)) continue;
      const ValueClassInfo* value = valueClassInfo(feature.valueClass);
      const auto made = [&](int which) {
        if (value->payload == ValuePayload::Text) {
          return StoredValue{
              feature.valueClass, 0,
              u" <&>\"' \t\n\r\u00e9 \U0001F600 " + std::u16string(1, char16_t(u'a' + which))};
        }
        return StoredValue{
            feature.valueClass, value->literalCount > 0 ? value->literalCount - 1 : -7 + which, {}};
      };
      const bool owns = feature.owns;
      const bool owned = feature.opposite != 0 && featureInfo(feature.opposite).owns;
      std::vector<ObjectId> fits;
      for (ObjectId each : all) {
        if ((owns && each <= id) || (owned && each >= id)) continue;
        if (feature.elementClass != 0 && conformsTo(store.classOf(each), feature.elementClass))
          fits.push_back(each);
      }
      switch (feature.kind) {
        case FeatureKind::Attribute:
        case FeatureKind::Hidden:
          store.setValue(id, feature.id, made(0));
          break;
        case FeatureKind::Values:
          store.setValues(id, feature.id, {made(0), made(1)});
          break;
        case FeatureKind::Single:
        case FeatureKind::ReadOnly:
          if (!fits.empty()) store.setReference(id, feature.id, fits.back());
          break;
        default:
          for (std::size_t i = 0; i < fits.size() && i < 2; ++i)
            store.appendMember(id, feature.id, fits[fits.size() - 1 - i]);
      }
    }
  }
  // Everything inside the root, the way its composite features hold them.
  for (ObjectId id : all) {
    if (id == root) continue;
    for (const FeatureInfo& feature : modelFeatures()) {
      if (!feature.owns || !conformsTo(store.classOf(id), feature.elementClass)) continue;
      if (conformsTo(QOVIXModel::kClassId, feature.owner)) {
        store.appendMember(root, feature.id, id);
        break;
      }
    }
  }
  return root;
}

// Walks both models from their roots over every reference, pairing the
// objects met, and expects the same classes, values and links throughout.
std::size_t expectSameModel(const PersistentStore& a, ObjectId rootA, const PersistentStore& b,
                            ObjectId rootB) {
  std::map<ObjectId, ObjectId> paired{{rootA, rootB}};
  std::deque<std::pair<ObjectId, ObjectId>> next{{rootA, rootB}};
  while (!next.empty()) {
    const auto [x, y] = next.front();
    next.pop_front();
    const std::string where = std::string(classInfo(a.classOf(x)).name) + " " + std::to_string(x);
    EXPECT_EQ(a.classOf(x), b.classOf(y)) << where;
    for (const FeatureInfo& feature : modelFeatures()) {
      EXPECT_EQ(a.value(x, feature.id), b.value(y, feature.id)) << where << " " << feature.name;
      EXPECT_EQ(a.values(x, feature.id), b.values(y, feature.id)) << where << " " << feature.name;
      std::vector<ObjectId> from = a.members(x, feature.id), to = b.members(y, feature.id);
      if (const ObjectId single = a.reference(x, feature.id)) from = {single};
      if (const ObjectId single = b.reference(y, feature.id)) to = {single};
      if (from.size() != to.size()) {
        ADD_FAILURE() << where << " " << feature.name << ": " << from.size() << " against "
                      << to.size();
        continue;
      }
      for (std::size_t i = 0; i < from.size(); ++i) {
        const auto [at, fresh] = paired.emplace(from[i], to[i]);
        EXPECT_EQ(at->second, to[i]) << where << " " << feature.name << " member " << i;
        if (fresh) next.emplace_back(from[i], to[i]);
      }
    }
  }
  for (ObjectId id : a.instancesOf(conformingClasses(QOVIXElement::kClassId))) {
    if (paired.count(id) == 0 && a.classOf(id) != QOVIXPackage::kClassId)
      ADD_FAILURE() << classInfo(a.classOf(id)).name << " " << id << " is not in the copy";
  }
  return paired.size();
}

TEST_F(Xmi, EveryClassRoundTripsInBothVersions) {
  const ObjectId root = everyClass(store());
  const std::size_t objects = store().objectCount() - 1;  // all but the anchor
  ASSERT_GT(objects, 90u);
  for (const char16_t* format : {u"xmi", u"xmi 1.0"}) {
    QOVIXPackage(ObjectRef{&store(), root})
        .externalize(QOVIXUninterpreted(format), QOVIXString(u"every.xmi"));
    QOVIXPackage into(other);
    const QOVIXPackage copy = into.internalize(kXmi, QOVIXString(u"every.xmi"));
    // The import's report is the one thing the copy has more.
    const QOVIXTaggedValue said =
        QOVIXModelElement::cast(copy, 1).getTaggedValue(QOVIXName(u"qovix.import"));
    other.store().removeMember(copy.objectId(), feature::QOVIXModelElement_taggedValue,
                               said.objectId());
    EXPECT_EQ(expectSameModel(store(), root, other.store(), copy.objectId()), objects)
        << (format[3] == u' ' ? "xmi 1.0" : "xmi");
  }
  const std::string written = slurp(folder / "every.xmi");
  EXPECT_NE(written.find("<Foundation.Core.Class xmi.id="), std::string::npos);
}

// One object of every class written as UML 2.5: what the export writes, the
// reading reads back, every element and every reference (one to an element
// the document lacks would be read as a type from outside it, or skipped),
// and what it leaves out it says.
TEST_F(Xmi, EveryClassWrittenAsUml25IsReadBackWithNothingLost) {
  const ObjectId root = everyClass(store());
  const model::WrittenDocument written =
      model::writePackageDocument(store(), root, "xmi 2.5", "every.xmi");
  for (const char* line : {"  1 Collaboration: collaborations and interactions are not written",
                           "  2 StateMachine\n", "  1 Component\n", "  1 Node\n"}) {
    EXPECT_NE(written.report.find(line), std::string::npos) << line << " not in\n"
                                                            << written.report;
  }
  const QOVIXPackage copy = QOVIXPackage(other).internalize(kXmi, QOVIXString(u"every.xmi"));
  const ObjectId tag =
      QOVIXModelElement::cast(copy, 1).getTaggedValue(QOVIXName(u"qovix.import")).objectId();
  const std::string said =
      utf::toUtf8(other.store().value(tag, feature::QOVIXTaggedValue_umlValue)->text);
  EXPECT_NE(said.find(" read into others, 0 skipped\n"), std::string::npos) << said;
  EXPECT_EQ(said.find("outside the document"), std::string::npos) << said;
  EXPECT_EQ(said.find("skipped:"), std::string::npos) << said;
}

// Every sample document, as a tool wrote it, comes back whole from either
// export: the same objects, values and links.
TEST_F(Xmi, EverySampleRoundTripsWholeInBothVersions) {
  int samples = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QOVIX_XMI_SAMPLES)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".xmi" && entry.path().extension() != ".uml") continue;
    ++samples;
    std::filesystem::copy_file(entry.path(), folder / name);
    VORN from{"from"};
    from.store().settings().documentFolder = folder;
    QOVIXPackage read = QOVIXPackage(from).internalize(kXmi, QOVIXString(utf::toUtf16(name)));
    // The report says how the sample was read; the copy has one of its own.
    const auto dropReport = [](PersistentStore& store, const QOVIXPackage& package) {
      const QOVIXTaggedValue said =
          QOVIXModelElement::cast(package, 1).getTaggedValue(QOVIXName(u"qovix.import"));
      store.removeMember(package.objectId(), feature::QOVIXModelElement_taggedValue,
                         said.objectId());
      store.removeObject(said.objectId());
    };
    dropReport(from.store(), read);
    for (const char16_t* format : {u"xmi", u"xmi 1.0"}) {
      read.externalize(QOVIXUninterpreted(format), QOVIXString(u"copy.xmi"));
      VORN to{"to"};
      to.store().settings().documentFolder = folder;
      const QOVIXPackage copy = QOVIXPackage(to).internalize(kXmi, QOVIXString(u"copy.xmi"));
      dropReport(to.store(), copy);
      SCOPED_TRACE(name + (format[3] == u' ' ? " through XMI 1.0" : " through XMI 1.2"));
      expectSameModel(from.store(), read.objectId(), to.store(), copy.objectId());
    }
  }
  EXPECT_GE(samples, 11);
}

// The structure rules of XMI: elements alternate between objects
// (METACLASS, capitalized) and their properties (OWNER.name); each object
// is defined once (xmi.id) or referred to (xmi.idref), and every reference
// names a definition. Checked on what libxml2 parses back.
class XmiStructure {
 public:
  XmiStructure(const std::string& text, bool uml14) : uml14_(uml14) {
    document_.reset(xmlReadMemory(text.data(), static_cast<int>(text.size()), "export", nullptr,
                                  XML_PARSE_NONET));
  }
  std::vector<std::string> faults() {
    const xmlNode* root = xmlDocGetRootElement(document_.get());
    if (root == nullptr || name(root) != "XMI") return {"no <XMI> root"};
    const std::vector<const xmlNode*> parts = children(root);
    if (parts.size() != 2 || name(parts[0]) != "XMI.header" || name(parts[1]) != "XMI.content") {
      return {"<XMI> holds other than XMI.header and XMI.content"};
    }
    for (const xmlNode* each : children(parts[1])) object(each);
    for (const std::string& id : referred_) {
      if (defined_.count(id) == 0) faults_.push_back("xmi.idref " + id + " names no element");
    }
    return faults_;
  }

 private:
  struct Free {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
  };
  static std::string name(const xmlNode* node) {
    std::string qualified = node->ns != nullptr && node->ns->prefix != nullptr
                                ? std::string(reinterpret_cast<const char*>(node->ns->prefix)) + ":"
                                : std::string();
    return qualified + reinterpret_cast<const char*>(node->name);
  }
  static std::vector<const xmlNode*> children(const xmlNode* node) {
    std::vector<const xmlNode*> found;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
      if (child->type == XML_ELEMENT_NODE) found.push_back(child);
    }
    return found;
  }
  bool named(const xmlNode* node, bool metaclass) {
    const std::string tag = name(node);
    const std::string last = tag.substr(tag.rfind('.') + 1);
    const bool capital = !last.empty() && std::isupper(static_cast<unsigned char>(last[0]));
    const bool prefixed = uml14_ ? tag.rfind("UML:", 0) == 0
                                 : tag.rfind("Foundation.", 0) == 0 ||
                                       tag.rfind("Behavioral_Elements.", 0) == 0 ||
                                       tag.rfind("Model_Management.", 0) == 0;
    if (capital != metaclass || !prefixed || tag.find("QOVIX") != std::string::npos) {
      faults_.push_back("<" + tag + "> is no " + (metaclass ? "metaclass" : "property"));
      return false;
    }
    return true;
  }
  void object(const xmlNode* node) {
    if (!named(node, true)) return;
    const bool id = xmlHasProp(node, reinterpret_cast<const xmlChar*>("xmi.id")) != nullptr;
    const bool idref = xmlHasProp(node, reinterpret_cast<const xmlChar*>("xmi.idref")) != nullptr;
    if (id == idref) faults_.push_back("<" + name(node) + "> has not one of xmi.id and xmi.idref");
    auto value = [&](const char* attribute) {
      xmlChar* text = xmlGetProp(node, reinterpret_cast<const xmlChar*>(attribute));
      std::string copy(reinterpret_cast<const char*>(text));
      xmlFree(text);
      return copy;
    };
    if (idref) referred_.push_back(value("xmi.idref"));
    if (id && !defined_.insert(value("xmi.id")).second)
      faults_.push_back("two xmi.id " + value("xmi.id"));
    for (const xmlNode* child : children(node)) {
      if (name(child) == "XMI.extension") {
        for (const xmlNode* property : children(child)) this->property(property);
      } else {
        property(child);
      }
    }
  }
  void property(const xmlNode* node) {
    if (!named(node, false)) return;
    for (const xmlNode* child : children(node)) {
      const std::string tag = name(child);
      if (tag.size() < 10 || tag.compare(tag.size() - 10, 10, "Expression") != 0) object(child);
    }
  }

  bool uml14_;
  std::unique_ptr<xmlDoc, Free> document_;
  std::vector<std::string> faults_;
  std::set<std::string> defined_;
  std::vector<std::string> referred_;
};

TEST_F(Xmi, ExportsAreXmiOtherToolsRead) {
  const ObjectId root = everyClass(store());
  for (const char16_t* format : {u"xmi", u"xmi 1.0"}) {
    QOVIXPackage(ObjectRef{&store(), root})
        .externalize(QOVIXUninterpreted(format), QOVIXString(u"every.xmi"));
    const std::string written = slurp(folder / "every.xmi");
    const bool uml14 = format[3] != u' ';
    EXPECT_EQ(XmiStructure(written, uml14).faults(), std::vector<std::string>{});
    EXPECT_EQ(std::system(("xmllint --noout " + (folder / "every.xmi").string()).c_str()), 0);
    if (!uml14) continue;
    // XMI 1.2 as the tools of UML 1.4 write it: plain values as attributes,
    // UML 1.4's names, what only this repository has in its extension.
    for (const char* part :
         {"<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\">",
          "<XMI.metamodel xmi.name=\"UML\" xmi.version=\"1.4\"/>",
          "<XMI.content>\n    <UML:Model xmi.id=\"a1\"", "<UML:Namespace.ownedElement>",
          "<XMI.extension xmi.extender=\"QOVIX\">", "<UML:AssociationEnd.participant>",
          "ordering=\"ordered\"", "changeability=\"addOnly\"",
          "<UML:ElementImport xmi.id=", "&#10;"}) {
      EXPECT_NE(written.find(part), std::string::npos) << part;
    }
  }
}

TEST_F(Xmi, DocumentsThatBreakTheRulesOrAttackTheServerAreRefused) {
  const std::string head = "<?xml version=\"1.0\"?>\n";
  store().settings().mostDocumentBytes = 32u << 20;
  store().commit();
  const std::string model =
      "<XMI xmi.version=\"1.2\" xmlns:UML=\"u\"><XMI.content><UML:Model xmi.id=\"m\" name=\"M\"/>";
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "<UML:Namespace.ownedElement><UML:Package>";
  const std::map<std::string, std::string> refused = {
      {"xxe", head + "<!DOCTYPE XMI [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" + model +
                  "<UML:Class name=\"&x;\"/></XMI.content></XMI>"},
      {"bomb",
       head +
           "<!DOCTYPE XMI [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
           "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>" +
           model + "<UML:Class name=\"&c;\"/></XMI.content></XMI>"},
      {"deep", head + model + deep + "</XMI.content></XMI>"},
      {"version", "<XMI xmi.version=\"2.1\"><XMI.content/></XMI>"},
      {"mof",
       "<XMI xmi.version=\"1.1\"><XMI.header><XMI.metamodel xmi.name=\"MOF\"/>"
       "</XMI.header><XMI.content/></XMI>"},
      {"early",
       "<XMI><XMI.header><XMI.metamodel XMI.name=\"UML\" XMI.version=\"0.91\"/>"
       "</XMI.header><XMI.content/></XMI>"},
      {"root", "<xmi/>"},
      {"cut", head + model + "<UML:Class"},
      {"large", head + model + std::string(33u << 20, ' ') + "</XMI.content></XMI>"},
      {"longtext", head + model + "<UML:Class xmi.id=\"long\" name=\"" +
                       std::string(utf::kMostTextUnits + 1, 'n') + "\"/></XMI.content></XMI>"},
  };
  for (const auto& [name, document] : refused) {
    write(name, document);
    const std::size_t before = store().objectCount();
    try {
      anchor.internalize(kXmi, QOVIXString(std::u16string(name.begin(), name.end())));
      ADD_FAILURE() << name << " was read";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("'" + name + "'"), std::string::npos)
          << error.what();
      if (name == "mof" || name == "early") {
        EXPECT_NE(std::string(error.what()).find(name == "mof" ? "metamodel 'MOF'" : "UML '0.91'"),
                  std::string::npos)
            << error.what();
      }
      if (name == "longtext") {
        EXPECT_NE(std::string(error.what()).find("name of Class 'long' holds 131073 UTF-16 units"),
                  std::string::npos)
            << error.what();
      }
    }
    store().rollback();
    EXPECT_EQ(store().objectCount(), before) << name;
  }
  EXPECT_THROW(anchor.externalize(QOVIXUninterpreted(u"xmi 1.3"), QOVIXString(u"x")),
               std::invalid_argument);
  EXPECT_THROW(anchor.internalize(QOVIXUninterpreted(u"xmi 1.0"), QOVIXString(u"x")),
               std::invalid_argument);
}

// libxml2 prints some errors with the document's bytes quoted, whatever the
// parse options say (an encoding that does not convert): none may reach
// stderr raw.
TEST_F(Xmi, XmlErrorsNeverReachStandardErrorRaw) {
  write("badly-encoded",
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<XMI xmi.version=\"1.2\">"
        "<XMI.content>\x82\x1b[2J\xff\xfe</XMI.content></XMI>");
  std::FILE* captured = std::tmpfile();
  ASSERT_NE(captured, nullptr);
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(::fileno(captured), STDERR_FILENO);
  try {
    anchor.internalize(kXmi, QOVIXString(u"badly-encoded"));
    ADD_FAILURE() << "a document that does not convert was read";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("'badly-encoded'"), std::string::npos) << error.what();
  }
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  EXPECT_EQ(std::ftell(captured), 0) << "libxml2 wrote to stderr";
  std::fclose(captured);
}

// A document up to the size limit is read, however long (libxml2 looks
// no further than 10 MB ahead in a document in memory, unless told to).
TEST_F(Xmi, DocumentsUpToTheSizeLimitAreRead) {
  std::string classes;
  const std::string longName(150, 'n');  // fewer than a call may make
  for (int i = 0; classes.size() < (12u << 20); ++i) {
    classes += "<UML:Class xmi.id=\"c" + std::to_string(i) + "\" name=\"" + longName +
               std::to_string(i) + "\"/>\n";
  }
  write("large.xmi",
        "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
        "<UML:Model xmi.id=\"m\" name=\"Large\"><UML:Namespace.ownedElement>\n" +
            classes + "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>\n");
  QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"large.xmi"));
  EXPECT_GT(read.contents().ids().size(), 60000u);
}

// Character and predefined references mean their characters, in
// attributes and in text alike.
TEST_F(Xmi, ReferencesInValuesAreReplaced) {
  write("refs.xmi",
        "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
        "<UML:Model xmi.id=\"m\" name=\"M\"><UML:Namespace.ownedElement>"
        "<UML:Class xmi.id=\"a\" name=\"a&amp;b &lt;c&gt; &#38;&#x41;&quot;&apos;\"/>"
        "<UML:Class xmi.id=\"b\"><UML:ModelElement.name>x &amp; <![CDATA[<y>]]>&#38;z"
        "</UML:ModelElement.name></UML:Class>"
        "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>");
  anchor.internalize(kXmi, QOVIXString(u"refs.xmi"));
  EXPECT_NE(named(QOVIXClass::kClassId, "a&b <c> &A\"'"), 0u);
  EXPECT_NE(named(QOVIXClass::kClassId, "x & <y>&z"), 0u);
}

// Tools write empty ids: each element is read, none is taken for another,
// and nothing inside itself.
TEST_F(Xmi, EmptyIdsAreReadAndNameNothing) {
  write("empty.xmi",
        "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
        "<UML:Model xmi.id=\"\" name=\"M\"><UML:Namespace.ownedElement>"
        "<UML:Class xmi.id=\"\" name=\"A\"/><UML:Class xmi.id=\"\" name=\"B\"/>"
        "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>");
  const QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"empty.xmi"));
  EXPECT_NE(named(QOVIXClass::kClassId, "A"), 0u) << report(read);
  EXPECT_NE(named(QOVIXClass::kClassId, "B"), 0u) << report(read);
  EXPECT_NE(report(read).find("skipped nothing"), std::string::npos) << report(read);
}

// An element written where nothing owns its kind (UML 1.4's comment of an
// attribute, a parameter or a literal; a tagged value among a namespace's
// elements) goes to the nearest element around it that can own it, and the
// report says where: none is imported where no walk from the top finds it.
TEST_F(Xmi, ElementsWrittenWhereNothingOwnsThemGoToTheNearestOwner) {
  const auto comment = [](const char* body) {
    return std::string("<UML:ModelElement.comment><UML:Comment body=\"") + body +
           "\"/></UML:ModelElement.comment>";
  };
  write(
      "notes.xmi",
      "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
      "<UML:Model xmi.id=\"m\" name=\"M\"><UML:Namespace.ownedElement>"
      "<UML:Class xmi.id=\"c\" name=\"C\"><UML:Classifier.feature>"
      "<UML:Attribute xmi.id=\"a\" name=\"a\">" +
          comment("attribute") +
          "</UML:Attribute>"
          "<UML:Operation xmi.id=\"o\" name=\"o\"><UML:BehavioralFeature.parameter>"
          "<UML:Parameter xmi.id=\"p\" name=\"p\">" +
          comment("parameter") +
          "</UML:Parameter>"
          "</UML:BehavioralFeature.parameter></UML:Operation></UML:Classifier.feature></UML:Class>"
          "<UML:Enumeration xmi.id=\"e\" name=\"E\"><UML:Enumeration.literal>"
          "<UML:EnumerationLiteral xmi.id=\"l\" name=\"x\">" +
          comment("literal") +
          "</UML:EnumerationLiteral></UML:Enumeration.literal></UML:Enumeration>"
          "<UML:TaggedValue xmi.id=\"t\" tag=\"stray\" value=\"v\" modelElement=\"gone\"/>"
          "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>");
  const QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"notes.xmi"));
  const auto commentsIn = [&](ObjectId id) {
    std::vector<std::string> found;
    for (ObjectId each : store().members(id, feature::QOVIXNamespace_ownedElement)) {
      if (store().classOf(each) == QOVIXComment::kClassId)
        found.push_back(text(each, feature::name));
    }
    return found;
  };
  EXPECT_EQ(commentsIn(named(QOVIXClass::kClassId, "C")),
            (std::vector<std::string>{"attribute", "parameter"}));
  EXPECT_EQ(commentsIn(named(QOVIXEnumeration::kClassId, "E")),
            std::vector<std::string>{"literal"});
  const QOVIXTaggedValue stray =
      QOVIXModelElement::cast(read, 1).getTaggedValue(QOVIXName(u"stray"));
  EXPECT_EQ(text(stray.objectId(), feature::QOVIXTaggedValue_umlValue), "v");
  const std::string said = report(read);
  for (const char* line :
       {"  1 Comment inside an Attribute, which owns none there: placed in the ownedElement of "
        "the Class around it",
        "  1 Comment inside a Parameter", "  1 Comment inside an EnumerationLiteral",
        "  1 TaggedValue inside a Model, which owns none there: placed in the taggedValue"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line << " not in\n" << said;
  }
}

// Umbrello 1.x keeps the model's elements in <umlobjects>; the earliest
// drafts name their metamodel in `name`, or not at all.
TEST_F(Xmi, UmbrelloListsAndTheEarliestDraftHeadersAreRead) {
  write("umbrello.xmi",
        "<XMI xmi.version=\"1.2\" xmlns:UML=\"http://schema.omg.org/spec/UML/1.3\"><XMI.header>"
        "<XMI.metamodel href=\"UML.xml\" version=\"1.3\" name=\"UML\"/></XMI.header><XMI.content>"
        "<docsettings viewid=\"1\"/><umlobjects>"
        "<UML:Class xmi.id=\"3\" name=\"Account\" scope=\"202\" abstract=\"1\">"
        "<UML:Attribute xmi.id=\"4\" name=\"balance\" scope=\"201\" static=\"1\"/>"
        "</UML:Class><UML:Class xmi.id=\"6\" name=\"Savings\"/></umlobjects>"
        "<diagrams><diagram name=\"d\"/></diagrams></XMI.content></XMI>");
  const QOVIXPackage umbrello = anchor.internalize(kXmi, QOVIXString(u"umbrello.xmi"));
  EXPECT_EQ(store().members(named(QOVIXClass::kClassId, "Account"),
                            feature::QOVIXClassifier_feature),
            std::vector<ObjectId>{named(QOVIXAttribute::kClassId, "balance")});
  EXPECT_EQ(store().members(umbrello.objectId(), feature::QOVIXNamespace_ownedElement).size(), 2u);
  EXPECT_NE(report(umbrello).find("1 umlobjects: Umbrello's list"), std::string::npos)
      << report(umbrello);
  // Umbrello 1.1's abstract, static and scope (200 public, 201 private, 202 protected).
  const ObjectId account = named(QOVIXClass::kClassId, "Account");
  const ObjectId balance = named(QOVIXAttribute::kClassId, "balance");
  EXPECT_EQ(store().value(account, feature::QOVIXGeneralizableElement_isAbstract)->number, 1);
  EXPECT_EQ(store().value(account, feature::QOVIXModelElement_elemOwnershipVisibility)->number, 1);
  EXPECT_EQ(store().value(balance, feature::QOVIXFeature_visibility)->number, 2);
  EXPECT_EQ(store().value(balance, feature::QOVIXFeature_ownerScope)->number, 1);
  for (const auto& [header, said] :
       std::map<std::string, std::string>{
           {"<XMI.metamodel name=\"UML\" version=\"1.1\"/>", "XMI 1.0, UML 1.1\n"},
           {"<XMI.metamodel/>", "1 XMI.metamodel naming no metamodel: read as UML's"}}) {
    write("argo.xmi", std::string("<XMI><XMI.header>") + header +
                          "</XMI.header><XMI.content><Foundation.Core.Class XMI.id=\"a\">"
                          "<Foundation.Core.ModelElement.name>Early</Foundation.Core.ModelElement."
                          "name></Foundation.Core.Class></XMI.content></XMI>");
    const QOVIXPackage argo = anchor.internalize(kXmi, QOVIXString(u"argo.xmi"));
    EXPECT_NE(report(argo).find(said), std::string::npos) << report(argo);
  }
  named(QOVIXClass::kClassId, "Early");
  write("other.xmi", "<XMI><XMI.header><XMI.metamodel name=\"MOF\"/></XMI.header>"
                     "<XMI.content/></XMI>");
  EXPECT_THROW(anchor.internalize(kXmi, QOVIXString(u"other.xmi")), std::exception);
}

// An element given the id of what holds it, or owners named in a circle,
// is never imported inside itself: the link closing the circle is left out
// and reported, and the model stays a tree a walk from the top reaches.
TEST_F(Xmi, NoElementIsImportedInsideItself) {
  write("circle.xmi",
        "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
        "<UML:Model xmi.id=\"m\" name=\"M\"><UML:Namespace.ownedElement>"
        "<UML:Package xmi.id=\"m\" name=\"Again\"><UML:Namespace.ownedElement>"
        "<UML:Class xmi.id=\"c\" name=\"C\"/></UML:Namespace.ownedElement></UML:Package>"
        "<UML:Package xmi.id=\"p\" name=\"P\"><UML:Namespace.ownedElement>"
        "<UML:Package xmi.id=\"q\" name=\"Q\"><UML:Namespace.ownedElement>"
        "<UML:Package xmi.idref=\"p\"/></UML:Namespace.ownedElement></UML:Package>"
        "</UML:Namespace.ownedElement></UML:Package>"
        "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>");
  const QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"circle.xmi"));
  EXPECT_NE(report(read).find("1 an element inside itself"), std::string::npos) << report(read);
  std::vector<ObjectId> below{read.objectId()};
  std::set<ObjectId> seen{read.objectId()};
  for (std::size_t i = 0; i < below.size(); ++i) {
    for (ObjectId owned : store().members(below[i], feature::QOVIXNamespace_ownedElement)) {
      ASSERT_TRUE(seen.insert(owned).second) << "object " << owned << " is inside itself";
      below.push_back(owned);
    }
  }
  // Again, defined under M's id, is a package of its own in M; what it
  // holds is not read, and said so.
  EXPECT_NE(report(read).find("1 elements inside a Package defined again: not read"),
            std::string::npos)
      << report(read);
  const std::pair<ClassId, const char*> elements[] = {{QOVIXModel::kClassId, "M"},
                                                      {QOVIXPackage::kClassId, "Again"},
                                                      {QOVIXPackage::kClassId, "P"},
                                                      {QOVIXPackage::kClassId, "Q"}};
  for (const auto& [classId, name] : elements) {
    const ObjectId id = named(classId, name);
    EXPECT_EQ(seen.count(id), 1u) << name << " is out of reach";
    EXPECT_EQ(QOVIXModelElement(ObjectRef{&store(), id}).checkWellFormedness().number(), 1)
        << name;
  }
}

TEST_F(Xmi, HrefsIntoTheDocumentResolveInAnyOrder) {
  write("refs.xmi",
        "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
        "<UML:Model xmi.id=\"m\" name=\"M\"><UML:Namespace.ownedElement>"
        "<UML:Attribute xmi.id=\"a\" name=\"a\"><UML:StructuralFeature.type>"
        "<UML:Class href=\"#c\"/></UML:StructuralFeature.type></UML:Attribute>"
        "<UML:Attribute xmi.id=\"b\" name=\"b\"><UML:StructuralFeature.type>"
        "<UML:Class href=\"refs.xmi#c\"/></UML:StructuralFeature.type></UML:Attribute>"
        "<UML:Class xmi.id=\"c\" name=\"C\"/></UML:Namespace.ownedElement></UML:Model>"
        "</XMI.content></XMI>");
  const QOVIXPackage read = anchor.internalize(kXmi, QOVIXString(u"refs.xmi"));
  const ObjectId typed = named(QOVIXClass::kClassId, "C");
  for (const char* attribute : {"a", "b"}) {
    EXPECT_EQ(store().reference(named(QOVIXAttribute::kClassId, attribute),
                                feature::QOVIXStructuralFeature_type),
              typed);
  }
  EXPECT_NE(report(read).find("skipped nothing"), std::string::npos) << report(read);
}

TEST_F(Xmi, AnExportTooLargeToReadBackIsRefused) {
  store().settings().mostDocumentBytes = 32u << 20;
  const ObjectId root = store().create(QOVIXPackage::kClassId);
  const std::u16string name(1u << 20, u'n');
  for (int i = 0; i < 33; ++i) {
    const ObjectId made = store().create(QOVIXClass::kClassId);
    store().setValue(made, feature::name, StoredValue{QOVIXName::kValueClassId, 0, name});
    store().appendMember(root, feature::QOVIXNamespace_ownedElement, made);
  }
  EXPECT_THROW(QOVIXPackage(ObjectRef{&store(), root}).externalize(kXmi, QOVIXString(u"big.xmi")),
               std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(folder / "big.xmi"));
}

// A chain of packages 12,000 deep: the writer never recurses with the depth,
// and it writes exactly the documents the reader takes, refusing the rest.
TEST_F(Xmi, DeepContentsAreWrittenAsDeepAsTheyAreReadAndNoDeeper) {
  constexpr int kChain = 12000;
  std::vector<ObjectId> chain{store().create(QOVIXPackage::kClassId)};
  for (int i = 1; i < kChain; ++i) {
    chain.push_back(store().create(QOVIXPackage::kClassId));
    store().appendMember(chain[i - 1], feature::QOVIXNamespace_ownedElement, chain[i]);
  }
  try {
    QOVIXPackage(ObjectRef{&store(), chain.front()}).externalize(kXmi, QOVIXString(u"deep.xmi"));
    ADD_FAILURE() << "a chain of " << kChain << " packages was written";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("nests its contents too deep for XMI"),
              std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "deep.xmi"));
  int written = 0;
  for (int depth = 110; depth <= 140; ++depth) {
    QOVIXPackage top(ObjectRef{&store(), chain[kChain - depth]});
    for (const char16_t* format : {u"xmi", u"xmi 1.0"}) {
      try {
        top.externalize(QOVIXUninterpreted(format), QOVIXString(u"chain.xmi"));
      } catch (const std::runtime_error&) {
        continue;
      }
      ++written;
      EXPECT_NO_THROW(anchor.internalize(kXmi, QOVIXString(u"chain.xmi")))
          << "a chain of " << depth << " written but not read";
    }
  }
  EXPECT_GT(written, 0);
  EXPECT_LT(written, 62);
}

// However many kinds of element a document holds that UML 1.1 lacks, the
// report lists a bounded number of them and counts the rest.
TEST_F(Xmi, TheReportOfAnImportIsBounded) {
  // First a long name, cut within a character: the report stays UTF-8.
  std::string elements = "<UML:Gadget";
  for (int i = 0; i < 100; ++i) elements += "\xE4\xB8\xAD";  // U+4E2D, three bytes each
  elements += " xmi.id=\"long\"/>";
  for (int i = 0; i < 1000; ++i) {
    elements += "<UML:Gizmo" + std::to_string(i) + " xmi.id=\"g" + std::to_string(i) + "\"/>";
  }
  write("gizmos.xmi",
        "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
        "<UML:Model xmi.id=\"m\" name=\"M\"><UML:Namespace.ownedElement>" +
            elements + "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>");
  const std::string text = report(anchor.internalize(kXmi, QOVIXString(u"gizmos.xmi")));
  EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 110) << text.substr(0, 400);
  EXPECT_NE(text.find("...: UML 1.1 has no such metaclass"), std::string::npos) << text;
  EXPECT_NE(text.find("901 more, of kinds past the 100 listed"), std::string::npos)
      << text.substr(text.size() > 300 ? text.size() - 300 : 0);
}

TEST_F(Xmi, ImportedIntoAPackageAndImportedAgainKeepsOneReport) {
  const ObjectId root = everyClass(store());
  QOVIXPackage(ObjectRef{&store(), root}).externalize(kXmi, QOVIXString(u"every.xmi"));
  QOVIXPackage(ObjectRef{&store(), root}).externalize(kXmi, QOVIXString(u"every.xmi"));
  QOVIXPackage target(other);
  QOVIXPackage once =
      target.internalize(QOVIXUninterpreted(u"xmi into"), QOVIXString(u"every.xmi"));
  EXPECT_EQ(other.store().members(target.objectId(), feature::QOVIXNamespace_ownedElement),
            std::vector<ObjectId>{once.objectId()});
  EXPECT_EQ(other.store().members(once.objectId(), feature::QOVIXModelElement_namespace1).back(),
            target.objectId());
  once.externalize(kXmi, QOVIXString(u"again.xmi"));
  const QOVIXPackage twice = target.internalize(kXmi, QOVIXString(u"again.xmi"));
  int reports = 0;
  for (ObjectId tagged :
       other.store().members(twice.objectId(), feature::QOVIXModelElement_taggedValue)) {
    reports += other.store().value(tagged, feature::QOVIXTaggedValue_tag)->text == u"qovix.import";
  }
  EXPECT_EQ(reports, 1);
  // Text XML cannot carry is refused, not written half.
  store().setValue(root, feature::name, StoredValue{QOVIXName::kValueClassId, 0, u"bell\a"});
  EXPECT_THROW(QOVIXPackage(ObjectRef{&store(), root}).externalize(kXmi, QOVIXString(u"every.xmi")),
               std::invalid_argument);
  EXPECT_EQ(slurp(folder / "every.xmi").find("bell"), std::string::npos);
}

// What the tools of two decades really wrote: each bend of the standard is
// read where its meaning is clear, and named in the report.
TEST_F(Xmi, WhatToolsReallyWriteIsReadWithEachDeviationReported) {
  const QOVIXPackage logical = importSample("uml13_xmi11_spaced_ids_style.xmi");
  EXPECT_EQ(text(logical.objectId(), feature::name), "Logical View");
  const ObjectId customer = named(QOVIXClass::kClassId, "Customer");
  const ObjectId order = named(QOVIXClass::kClassId, "Order");
  // A reference that is exactly an id holding spaces is that one element.
  EXPECT_EQ(store().members(customer, feature::QOVIXModelElement_namespace1),
            std::vector<ObjectId>{logical.objectId()});
  const std::vector<ObjectId> dependencies =
      store().instancesOf(conformingClasses(QOVIXDependency::kClassId));
  // Defined three times, read once; and once differently under the id of
  // Order, an element of its own, while references to that id name Order.
  ASSERT_EQ(dependencies.size(), 2u);
  EXPECT_EQ(text(dependencies.front(), feature::name), "places");
  EXPECT_EQ(text(dependencies.back(), feature::name), "clash");
  EXPECT_EQ(store().members(dependencies.back(), feature::QOVIXDependency_client),
            std::vector<ObjectId>{customer});
  EXPECT_EQ(store().members(dependencies.front(), feature::QOVIXDependency_supplier),
            std::vector<ObjectId>{order});
  // The tagged value of an element left out of the export goes to the
  // nearest element around it that can own it, where it is seen and kept.
  const QOVIXTaggedValue owner =
      QOVIXModelElement(ObjectRef{&store(), order}).getTaggedValue(QOVIXName(u"owner"));
  EXPECT_EQ(text(owner.objectId(), feature::QOVIXTaggedValue_umlValue), "sales");
  const QOVIXTaggedValue durable =
      QOVIXModelElement::cast(logical, 1).getTaggedValue(QOVIXName(u"persistence"));
  EXPECT_EQ(text(durable.objectId(), feature::QOVIXTaggedValue_umlValue), "durable");
  // A single action is wrapped in a sequence of it.
  const ObjectId open = named(QOVIXSimpleState::kClassId, "Open");
  const ObjectId entry = store().reference(open, feature::QOVIXState_entry);
  ASSERT_NE(entry, 0u);
  EXPECT_EQ(store().classOf(entry), QOVIXActionSequence::kClassId);
  EXPECT_EQ(store().members(entry, feature::QOVIXActionSequence_action),
            std::vector<ObjectId>{named(QOVIXCallAction::kClassId, "reserve")});
  const ObjectId pay = store().instancesOf(conformingClasses(QOVIXTransition::kClassId)).front();
  const ObjectId effect = store().reference(pay, feature::QOVIXTransition_effect);
  ASSERT_NE(effect, 0u);
  EXPECT_EQ(store().members(effect, feature::QOVIXActionSequence_action),
            std::vector<ObjectId>{named(QOVIXSendAction::kClassId, "notify")});
  std::string said = report(logical);
  for (const char* line :
       {"XMI 1.1, UML 1.3, written by Modeller XMI Writer 6.5",
        "read despite deviations from the standard:\n",
        "  2 Dependency defined again, identically, under its xmi.id: read once\n",
        "  1 Dependency defined again, differently, under an xmi.id in use: read as an element "
        "of its own",
        "  1 TaggedValue.modelElement 'Logical View::Invoice': names no element of the document",
        "  1 TaggedValue inside a Model, which owns none there: placed in the taggedValue of the "
        "Model around it",
        "  1 State.entry holding a single CallAction: wrapped in an ActionSequence",
        "  1 Transition.effect holding a single SendAction: wrapped in an ActionSequence",
        "  2 ActionSequence\n", "xmi.id holding spaces: a reference that is exactly one"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line << " not in\n" << said;
  }

  const QOVIXPackage shop = importSample("uml14_xmi12_nested_literals_style.xmi");
  const ObjectId colour = named(QOVIXEnumeration::kClassId, "Colour");
  std::vector<std::string> literals;
  for (ObjectId literal : store().members(colour, feature::QOVIXEnumeration_literal))
    literals.push_back(text(literal, feature::QOVIXEnumerationLiteral_name));
  EXPECT_EQ(literals, (std::vector<std::string>{"red", "green", "blue"}));
  EXPECT_EQ(
      store().members(named(QOVIXClass::kClassId, "Basket"), feature::QOVIXClassifier_feature),
      std::vector<ObjectId>{named(QOVIXAttribute::kClassId, "stray")});
  EXPECT_EQ(store().classOf(store().reference(named(QOVIXSimpleState::kClassId, "Filling"),
                                              feature::QOVIXState_exit)),
            QOVIXActionSequence::kClassId);
  said = report(shop);
  for (const char* line : {"  3 EnumerationLiteral directly inside an Enumeration: outside any "
                           "property: read as its literal",
                           "  1 Attribute directly inside a Class: outside any property: read as "
                           "its feature"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line << " not in\n" << said;
  }

  const QOVIXPackage early = importSample("draft_xmi_style.xmi");
  EXPECT_EQ(text(early.objectId(), feature::name), "Early");
  EXPECT_EQ(QOVIXGeneralizableElement(ObjectRef{&store(), named(QOVIXClass::kClassId, "Savings")})
                .allSupertypes()
                .ids(),
            std::vector<ObjectId>{named(QOVIXClass::kClassId, "Account")});
  said = report(early);
  for (const char* line : {"XMI 1.0, UML 1.1", "  1 <XMI>: no xmi.version",
                           "  9 XMI.id, XMI.idref and the like: capitalised"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line << " not in\n" << said;
  }
}

// An import's history names what it made, once each, and what it changed
// in what was there before; undoing it takes all of it back, however many
// objects it made (the check is no search through the commit).
TEST_F(Xmi, AnImportsHistoryNamesWhatItMadeAndUndoingItTakesItAllBack) {
  store().commit();
  const std::size_t objects = store().objectCount();
  std::filesystem::copy_file(
      std::filesystem::path(QOVIX_XMI_SAMPLES) / "uml14_xmi12_magicdraw_style.xmi",
      folder / "shop.xmi");
  anchor.internalize(QOVIXUninterpreted(u"xmi into"), QOVIXString(u"shop.xmi"));
  store().commit();
  const std::optional<CommitRecord> commit = store().commitAt(store().lastCommit(), SIZE_MAX);
  ASSERT_TRUE(commit);
  std::size_t made = 0;
  for (const SlotChange& change : commit->changes) {
    if (change.kind == SlotChange::Created) {
      ++made;
    } else {
      EXPECT_EQ(change.object, anchor.objectId()) << "a slot of an object the import made";
    }
  }
  EXPECT_EQ(made, commit->created.size());
  EXPECT_EQ(made, store().objectCount() - objects);
  EXPECT_EQ(commit->changed.size(), 1u);  // the package it went into
  const model::UndoOutcome undone = model::undoCommit(store(), commit->sequence);
  EXPECT_EQ(undone.refusal, "");
  store().commit();
  EXPECT_EQ(store().objectCount(), objects);
  EXPECT_TRUE(store().members(anchor.objectId(), feature::QOVIXNamespace_ownedElement).empty());
}

// A document is read as a stream, twice, and never held: one changed in
// place between the two readings is refused, not read half as each, and
// one that cannot be read says why.
TEST_F(Xmi, AStreamedDocumentChangedBetweenItsReadingsOrUnreadableIsRefused) {
  // Each reading from the start reads the other text: any two differ.
  class ChangingSource final : public model::xmi::XmlSource {
   public:
    ChangingSource(std::string first, std::string second)
        : first_(std::move(first)), second_(std::move(second)) {}
    std::uint64_t size() const override { return std::max(first_.size(), second_.size()); }
    std::size_t readAt(std::uint64_t offset, char* into, std::size_t most) const override {
      if (offset == 0) second_read_ = !second_read_;
      const std::string& text = second_read_ ? second_ : first_;
      const std::size_t taken = offset < text.size() ? std::min(most, text.size() - offset) : 0;
      std::copy_n(text.data() + offset, taken, into);
      return taken;
    }

   private:
    std::string first_, second_;
    mutable bool second_read_ = true;
  };
  const auto document = [](const std::string& elements) {
    return std::string(
               "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
               "<UML:Model xmi.id=\"m\" name=\"M\"><UML:Namespace.ownedElement>") +
           elements + "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>";
  };
  const std::string two =
      "<UML:Class xmi.id=\"a\" name=\"A\"/><UML:Class xmi.id=\"b\" name=\"B\"/>";
  for (const std::string& changed :
       {document("<UML:Class xmi.id=\"a\" name=\"A\"/><UML:DataType xmi.id=\"b\" name=\"B\"/>"),
        document(two + "<UML:Class xmi.id=\"c\" name=\"C\"/>"), document("")}) {
    model::xmi::ImportReport report;
    try {
      model::xmi::readXmi(store(), ChangingSource(document(two), changed), "m.xmi", report);
      ADD_FAILURE() << "read as it changed into " << changed;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "XMI document 'm.xmi' changed while it was read: read it again");
    }
    store().rollback();
  }
  model::xmi::ImportReport report;
  const ObjectId read =
      model::xmi::readXmi(store(), ChangingSource(document(two), document(two)), "m.xmi", report);
  EXPECT_EQ(text(read, feature::name), "M");

  class Unreadable final : public model::xmi::XmlSource {
   public:
    std::uint64_t size() const override { return 1 << 20; }
    std::size_t readAt(std::uint64_t offset, char* into, std::size_t most) const override {
      if (offset > 0) throw std::runtime_error("cannot read the document 'm.xmi': I/O error");
      const std::string start = "<XMI xmi.version=\"1.2\"><XMI.content>";
      std::copy_n(start.data(), std::min(most, start.size()), into);
      return std::min(most, start.size());
    }
  };
  EXPECT_THROW(
      {
        try {
          model::xmi::readXmi(store(), Unreadable(), "m.xmi", report);
        } catch (const std::runtime_error& error) {
          EXPECT_STREQ(error.what(), "cannot read the document 'm.xmi': I/O error");
          throw;
        }
      },
      std::runtime_error);
}

}  // namespace
