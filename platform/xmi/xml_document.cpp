#include "platform/xmi/xml_document.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <stdexcept>

namespace model::xmi {
namespace {

struct ParserContextFree {
  void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

// Stops the parse at the first entity declaration: an XMI document needs
// none, and refusing them all rules out external entities and expansion
// bombs alike, whatever the parser would do with them.
void refuseEntity(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  auto* parser = static_cast<xmlParserCtxt*>(context);
  parser->_private = parser;  // marks the refusal
  xmlStopParser(parser);
}

void refuseUnparsedEntity(void* context, const xmlChar*, const xmlChar*, const xmlChar*,
                          const xmlChar*) {
  refuseEntity(context, nullptr, 0, nullptr, nullptr, nullptr);
}

// libxml2 writes some errors to stderr whatever the parse options say,
// with the document's line quoted raw. Its errors are read back from the
// parser instead, and the one that fails a document travels in the
// exception, which the server logs as it logs every failed call.
void keepQuiet(void*, xmlError*) {}
void keepQuietGeneric(void*, const char*, ...) {}

}  // namespace

XmlDocument parseXml(std::string_view text, const std::string& name) {
  xmlInitParser();
  xmlSetStructuredErrorFunc(nullptr, keepQuiet);
  xmlSetGenericErrorFunc(nullptr, keepQuietGeneric);
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::runtime_error("XMI document '" + name + "' is too large");
  }
  std::unique_ptr<xmlParserCtxt, ParserContextFree> parser(xmlNewParserCtxt());
  if (!parser) throw std::bad_alloc();
  parser->sax->entityDecl = refuseEntity;
  parser->sax->unparsedEntityDecl = refuseUnparsedEntity;
  parser->sax->serror = keepQuiet;
  parser->_private = nullptr;
  XmlDocument document(xmlCtxtReadMemory(parser.get(), text.data(), static_cast<int>(text.size()),
                                         name.c_str(), nullptr,
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                             XML_PARSE_NOCDATA | XML_PARSE_COMPACT));
  if (parser->_private != nullptr) {
    throw std::runtime_error("XMI document '" + name +
                             "' declares an entity: entities are refused (XMI needs none)");
  }
  if (!document || !parser->wellFormed) {
    const xmlError* error = xmlCtxtGetLastError(parser.get());
    std::string why = error != nullptr && error->message != nullptr ? error->message : "not XML";
    while (!why.empty() && why.back() == '\n') why.pop_back();
    const int line = error != nullptr ? error->line : 0;
    throw std::runtime_error("XMI document '" + name + "' line " + std::to_string(line) + ": " +
                             why);
  }
  return document;
}

std::string localName(const xmlNode* element) {
  if (element->name == nullptr) return {};
  // A prefix no namespace declares stays in the name: drop it too.
  const std::string name = reinterpret_cast<const char*>(element->name);
  return name.substr(name.find(':') + 1);
}

std::string attribute(const xmlNode* element, const char* name, bool* present) {
  xmlChar* value = xmlGetNoNsProp(element, reinterpret_cast<const xmlChar*>(name));
  if (present != nullptr) *present = value != nullptr;
  if (value == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

std::string textOf(const xmlNode* element) {
  std::string text;
  for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
    if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
        child->content != nullptr) {
      text += reinterpret_cast<const char*>(child->content);
    }
  }
  return text;
}

}  // namespace model::xmi
