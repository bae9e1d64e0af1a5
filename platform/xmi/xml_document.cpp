#include "platform/xmi/xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <stdexcept>

namespace model::xmi {
namespace {

struct ParserContextFree {
  void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

// What the parse met that stops it, kept in the parser's _private.
struct ParseWatch {
  std::size_t mostDepth;
  std::size_t depth = 0;
  bool entity = false;
  bool tooDeep = false;
};

ParseWatch& watchOf(void* context) {
  return *static_cast<ParseWatch*>(static_cast<xmlParserCtxt*>(context)->_private);
}

// Stops the parse at the first entity declaration: an XMI document needs
// none, and refusing them all rules out external entities and expansion
// bombs alike, whatever the parser would do with them.
void refuseEntity(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  watchOf(context).entity = true;
  xmlStopParser(static_cast<xmlParserCtxt*>(context));
}

void refuseUnparsedEntity(void* context, const xmlChar*, const xmlChar*, const xmlChar*,
                          const xmlChar*) {
  refuseEntity(context, nullptr, 0, nullptr, nullptr, nullptr);
}

// Counts how deep elements nest, and stops the parse past the bound, before
// the parser or any reader of the tree goes deeper.
void startElement(void* context, const xmlChar* localName, const xmlChar* prefix,
                  const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                  int attributeCount, int defaultedCount, const xmlChar** attributes) {
  ParseWatch& watch = watchOf(context);
  if (++watch.depth > watch.mostDepth) {
    watch.tooDeep = true;
    xmlStopParser(static_cast<xmlParserCtxt*>(context));
    return;
  }
  xmlSAX2StartElementNs(context, localName, prefix, uri, namespaceCount, namespaces,
                        attributeCount, defaultedCount, attributes);
}

void endElement(void* context, const xmlChar* localName, const xmlChar* prefix,
                const xmlChar* uri) {
  --watchOf(context).depth;
  xmlSAX2EndElementNs(context, localName, prefix, uri);
}

// libxml2 writes some errors to stderr whatever the parse options say,
// with the document's bytes quoted raw (a text node too large, an encoding
// that does not convert). Its errors are read back from the parser
// instead, and the one that fails a document travels in the exception,
// which the server logs as it logs every failed call.
void keepQuiet(void*, xmlError*) {}
void keepQuietGeneric(void*, const char*, ...) {}

}  // namespace

XmlDocument parseXml(std::string_view text, const std::string& name, std::size_t mostDepth) {
  xmlInitParser();
  xmlSetStructuredErrorFunc(nullptr, keepQuiet);
  xmlSetGenericErrorFunc(nullptr, keepQuietGeneric);
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::runtime_error("XMI document '" + name + "' is too large");
  }
  std::unique_ptr<xmlParserCtxt, ParserContextFree> parser(xmlNewParserCtxt());
  if (!parser) throw std::bad_alloc();
  ParseWatch watch{mostDepth};
  parser->_private = &watch;
  parser->sax->entityDecl = refuseEntity;
  parser->sax->unparsedEntityDecl = refuseUnparsedEntity;
  parser->sax->startElementNs = startElement;
  parser->sax->endElementNs = endElement;
  parser->sax->serror = keepQuiet;
  // XML_PARSE_HUGE lifts libxml2's own bounds (10 MB of look-ahead in a
  // document held in memory, 256 levels), which the caller and the depth
  // count above set instead.
  XmlDocument document(xmlCtxtReadMemory(parser.get(), text.data(), static_cast<int>(text.size()),
                                         name.c_str(), nullptr,
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                             XML_PARSE_NOCDATA | XML_PARSE_COMPACT |
                                             XML_PARSE_HUGE));
  if (watch.entity) {
    throw std::runtime_error("XMI document '" + name +
                             "' declares an entity: entities are refused (XMI needs none)");
  }
  if (watch.tooDeep) {
    throw std::runtime_error("XMI document '" + name + "' line " +
                             std::to_string(xmlSAX2GetLineNumber(parser.get())) +
                             ": elements nest deeper than " + std::to_string(mostDepth) +
                             " levels");
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
