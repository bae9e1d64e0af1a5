// What an import reads of a document adds up: every element the document
// holds, counted here by a reader of our own, is read as an object, read
// into another, or skipped, and the report says how many of each.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "interchange/packages/package_documents.h"
#include "interchange/xmi/xmi_reader.h"
#include "model_classes.h"
#include "tests/support/temporary_folder.h"
#include "utf/utf.h"

namespace {

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string_view nameOf(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

bool inXmiSpace(const xmlNode* node) {
  if (node->ns == nullptr) return false;
  const std::string_view uri = reinterpret_cast<const char*>(node->ns->href);
  return uri.find("omg.org") != std::string_view::npos &&
         uri.find("/XMI") != std::string_view::npos;
}

// An attribute by name, any namespace, ignoring case (the drafts before
// XMI 1.0 capitalise XMI.idref).
bool has(const xmlNode* node, std::string_view name) {
  for (const xmlAttr* each = node->properties; each; each = each->next) {
    if (strcasecmp(reinterpret_cast<const char*>(each->name), std::string(name).c_str()) == 0)
      return true;
  }
  return false;
}
std::string value(const xmlNode* node, std::string_view name) {
  for (const xmlAttr* each = node->properties; each; each = each->next) {
    if (reinterpret_cast<const char*>(each->name) != name) continue;
    xmlChar* text = xmlNodeListGetString(node->doc, each->children, 1);
    std::string found = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return found;
  }
  return {};
}

// XMI 1.x: inside XMI.content and outside tools' extensions, each element
// named by a capitalised metaclass that is no reference and no expression.
void countXmi1(const xmlNode* node, std::map<std::string, int>& found) {
  for (const xmlNode* child = node->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    const std::string_view name = nameOf(child);
    if (name.starts_with("XMI.extension") && value(child, "xmi.extender") != "QOVIX") continue;
    const std::string_view last = name.substr(name.rfind('.') + 1);
    if (!last.empty() && std::isupper(static_cast<unsigned char>(last[0])) &&
        !has(child, "xmi.idref") && !has(child, "href") && !last.ends_with("Expression")) {
      ++found[std::string(last)];
    }
    countXmi1(child, found);
  }
}

// An attribute of XMI's namespace (xmi:id) or XML Schema's (xsi:type).
std::string spaced(const xmlNode* node, std::string_view name) {
  for (const xmlAttr* each = node->properties; each; each = each->next) {
    if (each->ns == nullptr || reinterpret_cast<const char*>(each->name) != name) continue;
    const std::string_view uri = reinterpret_cast<const char*>(each->ns->href);
    if (uri.find("/XMI") == std::string_view::npos &&
        uri.find("XMLSchema-instance") == std::string_view::npos)
      continue;
    xmlChar* text = xmlNodeListGetString(node->doc, each->children, 1);
    std::string found = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return found;
  }
  return {};
}

// UML 2: each element with an xmi:id, xmi:type or xsi:type that is no
// reference (xmi:idref, href), outside XMI's own elements.
void countUml2(const xmlNode* node, std::map<std::string, int>& found) {
  for (const xmlNode* child = node->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE || inXmiSpace(child)) continue;
    const std::string type = spaced(child, "type");
    if ((!spaced(child, "id").empty() || !type.empty()) && spaced(child, "idref").empty() &&
        value(child, "href").empty()) {
      ++found[type.empty() ? std::string(nameOf(child)) : type.substr(type.find(':') + 1)];
    }
    countUml2(child, found);
  }
}

std::map<std::string, int> elementsOf(const std::string& text) {
  std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> document(
      xmlReadMemory(text.data(), static_cast<int>(text.size()), "counted", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      xmlFreeDoc);
  std::map<std::string, int> found;
  if (!document) return found;
  const xmlNode* root = xmlDocGetRootElement(document.get());
  if (nameOf(root) == "XMI" && !inXmiSpace(root)) {
    for (const xmlNode* part = root->children; part; part = part->next) {
      if (part->type == XML_ELEMENT_NODE && nameOf(part) == "XMI.content") countXmi1(part, found);
    }
  } else {
    xmlNode holder{};  // the root counts too, as UML 2's <uml:Model> root does
    holder.children = const_cast<xmlNode*>(root);
    if (inXmiSpace(root)) holder.children = root->children;
    countUml2(&holder, found);
  }
  return found;
}

class StringSource final : public model::xmi::XmlSource {
 public:
  explicit StringSource(const std::string& text) : text_(text) {}
  std::uint64_t size() const override { return text_.size(); }
  std::size_t readAt(std::uint64_t offset, char* into, std::size_t most) const override {
    if (offset >= text_.size()) return 0;
    return text_.copy(into, most, static_cast<std::size_t>(offset));
  }

 private:
  const std::string& text_;
};

std::string said(const model::xmi::ImportReport& report) {
  std::string lines;
  for (const auto& [what, count] : report.skipped) {
    lines.append(std::to_string(count)).append(" ").append(what).append("\n");
  }
  return lines;
}

// Holds an import of `text` to the count of its elements.
void expectEveryElementAccounted(const std::string& text, const std::string& name) {
  SCOPED_TRACE(name);
  VORN repository{"counted"};
  model::xmi::ImportReport report;
  const ObjectId package =
      model::xmi::readXmi(repository.store(), StringSource(text), name, report);
  const std::map<std::string, int> counted = elementsOf(text);
  EXPECT_EQ(report.held, counted) << said(report);
  int total = 0;
  for (const auto& [metaclass, count] : counted) total += count;
  EXPECT_GT(total, 0);
  EXPECT_EQ(report.readAsObjects + report.readInto + report.skippedElements, total) << said(report);
  // The report the package keeps says the same.
  const PersistentStore& store = repository.store();
  std::u16string kept;
  for (ObjectId tag : store.members(package, feature::QOVIXModelElement_taggedValue)) {
    if (store.value(tag, feature::QOVIXTaggedValue_tag)->text == u"qovix.import")
      kept = store.value(tag, feature::QOVIXTaggedValue_umlValue)->text;
  }
  EXPECT_NE(utf::toUtf8(kept).find("\nthe document holds " + std::to_string(total) + " element"),
            std::string::npos)
      << utf::toUtf8(kept);
}

// Every sample as its tool wrote it, and each written back out in every
// XMI the repository writes.
TEST(ImportCounts, EveryElementOfEveryDocumentIsReadOrSkippedAndCounted) {
  TemporaryFolder temporary;
  int documents = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QOVIX_XMI_SAMPLES)) {
    if (entry.path().extension() != ".xmi" && entry.path().extension() != ".uml") continue;
    const std::string name = entry.path().filename().string();
    const std::string text = slurp(entry.path());
    expectEveryElementAccounted(text, name);
    VORN repository{"exported"};
    repository.store().settings().documentFolder = temporary.path();
    model::xmi::ImportReport report;
    const ObjectId package =
        model::xmi::readXmi(repository.store(), StringSource(text), name, report);
    for (const char* format : {"xmi", "xmi 1.0", "xmi 2.5"}) {
      model::writePackageDocument(repository.store(), package, format, "out.xmi");
      expectEveryElementAccounted(slurp(temporary.path() / "out.xmi"), name + " as " + format);
    }
    ++documents;
  }
  EXPECT_GE(documents, 11);
}

// What the reading of UML 2 passes over is named, never dropped without a
// word: a parameter's multiplicity, which UML 1.1 has no place for. A
// comment inside a skipped constraint is read all the same, and counted so.
TEST(ImportCounts, AnElementPassedOverIsNamedInTheReport) {
  const std::string text =
      "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
      "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\"><uml:Model xmi:id=\"m\" name=\"M\">"
      "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"c\" name=\"C\">"
      "<ownedOperation xmi:id=\"o\" name=\"o\"><ownedParameter xmi:id=\"p\" name=\"p\">"
      "<upperValue xmi:type=\"uml:LiteralUnlimitedNatural\" xmi:id=\"u\" value=\"*\"/>"
      "</ownedParameter></ownedOperation>"
      "<ownedRule xmi:type=\"uml:Constraint\" xmi:id=\"r\"><ownedComment xmi:id=\"k\" "
      "body=\"why\"/></ownedRule></packagedElement></uml:Model></xmi:XMI>";
  expectEveryElementAccounted(text, "passed.uml");
  VORN repository{"passed"};
  model::xmi::ImportReport report;
  model::xmi::readXmi(repository.store(), StringSource(text), "passed.uml", report);
  EXPECT_EQ(report.skippedElements, 2);  // the bound and the constraint
  EXPECT_EQ(report.readAsObjects, 5);    // the comment among them
  EXPECT_EQ(
      report.skipped.count("uml:LiteralUnlimitedNatural in a Parameter's upperValue: not read"), 1u)
      << said(report);
}

}  // namespace
