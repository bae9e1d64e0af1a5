#include "platform/xmi/xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstring>
#include <stdexcept>

namespace model::xmi {

// Builds an XmlDocument from libxml2's stream of parse events.
class XmlBuilder {
 public:
  XmlBuilder(XmlDocument& document, std::size_t mostDepth)
      : document_(document), mostDepth_(mostDepth) {}

  bool entityDeclared = false;
  bool tooDeep = false;

  // False when the element is past the depth bound.
  bool start(const xmlChar* localName, const xmlChar* space, int line, int attributeCount,
             const xmlChar** attributes) {
    if (open_.size() >= mostDepth_) {
      tooDeep = true;
      return false;
    }
    XmlElement& element = document_.elements_.emplace_back();
    element.name = intern(reinterpret_cast<const char*>(localName));
    element.space = spaceOf(space);
    element.line = line;
    XmlAttribute* attribute = keepAttributes(static_cast<std::size_t>(attributeCount));
    element.attributes = attribute;
    element.attributeCount = static_cast<std::size_t>(attributeCount);
    // Five pointers an attribute: local name, prefix, namespace, value, value's end.
    for (int i = 0; i < attributeCount; ++i) {
      const xmlChar* const* each = attributes + 5 * i;
      std::string name = reinterpret_cast<const char*>(each[0]);
      const std::string_view inSpace = spaceOf(each[2]);
      if (each[1] != nullptr && inSpace.empty())
        name.insert(0, std::string(reinterpret_cast<const char*>(each[1])) + ":");
      if (inSpace.empty() && name.rfind("XMI.", 0) == 0) {
        name.replace(0, 3, "xmi");
        ++document_.capitalised_;
      }
      const std::string_view raw(reinterpret_cast<const char*>(each[3]),
                                 static_cast<std::size_t>(each[4] - each[3]));
      *attribute++ =
          XmlAttribute{intern(name).data(), keepText(decoded(raw), true).data(), inSpace};
    }
    if (open_.empty()) {
      document_.root_ = &element;
    } else {
      Open& parent = open_.back();
      (parent.lastChild != nullptr ? parent.lastChild->nextSibling : parent.element->firstChild) =
          &element;
      parent.lastChild = &element;
    }
    open_.push_back(Open{&element, nullptr, {}});
    return true;
  }

  void end() {
    if (open_.empty()) return;
    open_.back().element->text = keepText(open_.back().text);
    open_.pop_back();
  }

  void text(const xmlChar* characters, int length) {
    if (!open_.empty()) {
      open_.back().text.append(reinterpret_cast<const char*>(characters),
                               static_cast<std::size_t>(length));
    }
  }

 private:
  struct Open {
    XmlElement* element;
    XmlElement* lastChild;
    std::string text;  // so far
  };

  std::string_view intern(const std::string& name) { return *document_.names_.insert(name).first; }
  std::string_view spaceOf(const xmlChar* uri) {
    return uri == nullptr ? std::string_view() : intern(reinterpret_cast<const char*>(uri));
  }

  // A copy of `text` in the document's blocks; `terminated`, followed by
  // a NUL.
  std::string_view keepText(std::string_view text, bool terminated = false) {
    if (text.empty() && !terminated) return {};
    char* kept = document_.text_.take(text.size() + (terminated ? 1 : 0));
    std::memcpy(kept, text.data(), text.size());
    if (terminated) kept[text.size()] = '\0';
    return {kept, text.size()};
  }

  XmlAttribute* keepAttributes(std::size_t count) {
    return count == 0 ? nullptr : document_.attributes_.take(count);
  }

  // libxml2 leaves the character reference &#38; in an attribute's value
  // (for &amp; and &#38;) for the tree builder it would call to replace.
  static std::string decoded(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw.compare(i, 5, "&#38;") == 0) {
        out += '&';
        i += 4;
      } else {
        out += raw[i];
      }
    }
    return out;
  }

  XmlDocument& document_;
  std::size_t mostDepth_;
  std::vector<Open> open_;
};

namespace {

struct ParserContextFree {
  void operator()(xmlParserCtxt* context) const {
    if (context->myDoc != nullptr) xmlFreeDoc(context->myDoc);
    xmlFreeParserCtxt(context);
  }
};

xmlParserCtxt* parserOf(void* context) { return static_cast<xmlParserCtxt*>(context); }
XmlBuilder& builderOf(void* context) {
  return *static_cast<XmlBuilder*>(parserOf(context)->_private);
}

// Stops the parse at the first entity declaration: an XMI document needs
// none, and refusing them all rules out external entities and expansion
// bombs alike, whatever the parser would do with them.
void refuseEntity(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  builderOf(context).entityDeclared = true;
  xmlStopParser(parserOf(context));
}

void refuseUnparsedEntity(void* context, const xmlChar*, const xmlChar*, const xmlChar*,
                          const xmlChar*) {
  refuseEntity(context, nullptr, 0, nullptr, nullptr, nullptr);
}

// The parse stops at the first element past the depth bound, before the
// parser or any reader of the document goes deeper.
void startElement(void* context, const xmlChar* localName, const xmlChar*, const xmlChar* space,
                  int, const xmlChar**, int attributeCount, int, const xmlChar** attributes) {
  if (!builderOf(context).start(localName, space, xmlSAX2GetLineNumber(context), attributeCount,
                                attributes)) {
    xmlStopParser(parserOf(context));
  }
}

void endElement(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  builderOf(context).end();
}

void characters(void* context, const xmlChar* text, int length) {
  builderOf(context).text(text, length);
}

// libxml2 writes some errors to stderr whatever the parse options say,
// with the document's bytes quoted raw (an encoding that does not convert).
// Its errors are read back from the parser instead, and the one that fails
// a document travels in the exception, which the server logs as it logs
// every failed call.
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
  std::unique_ptr<xmlParserCtxt, ParserContextFree> parser(
      xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size())));
  if (!parser) throw std::bad_alloc();
  // XML_PARSE_HUGE lifts libxml2's own bounds (10 MB of look-ahead in a
  // document held in memory, 256 levels), which the caller and the depth
  // count set instead.
  xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                      XML_PARSE_NOCDATA | XML_PARSE_HUGE);
  XmlDocument document;
  XmlBuilder builder(document, mostDepth);
  parser->_private = &builder;
  xmlSAXHandler& sax = *parser->sax;
  sax.entityDecl = refuseEntity;
  sax.unparsedEntityDecl = refuseUnparsedEntity;
  sax.startElementNs = startElement;
  sax.endElementNs = endElement;
  sax.characters = characters;
  sax.cdataBlock = characters;
  sax.ignorableWhitespace = characters;
  sax.comment = nullptr;
  sax.processingInstruction = nullptr;
  sax.serror = keepQuiet;
  xmlParseDocument(parser.get());
  if (builder.entityDeclared) {
    throw std::runtime_error("XMI document '" + name +
                             "' declares an entity: entities are refused (XMI needs none)");
  }
  if (builder.tooDeep) {
    throw std::runtime_error(
        "XMI document '" + name + "' line " + std::to_string(xmlSAX2GetLineNumber(parser.get())) +
        ": elements nest deeper than " + std::to_string(mostDepth) + " levels");
  }
  if (!parser->wellFormed || document.root() == nullptr) {
    const xmlError* error = xmlCtxtGetLastError(parser.get());
    std::string why = error != nullptr && error->message != nullptr ? error->message : "not XML";
    while (!why.empty() && why.back() == '\n') why.pop_back();
    const int line = error != nullptr ? error->line : 0;
    throw std::runtime_error("XMI document '" + name + "' line " + std::to_string(line) + ": " +
                             why);
  }
  return document;
}

std::string localName(const XmlElement* element) {
  // A prefix no namespace declares stays in the name: drop it too.
  const std::string_view name = element->name;
  return std::string(name.substr(name.find(':') + 1));
}

const char* attributeText(const XmlElement* element, const char* name) {
  for (std::size_t i = 0; i < element->attributeCount; ++i) {
    const XmlAttribute& each = element->attributes[i];
    if (each.space.empty() && std::strcmp(each.name, name) == 0) return each.value;
  }
  return nullptr;
}

std::string attribute(const XmlElement* element, const char* name, bool* present) {
  for (std::size_t i = 0; i < element->attributeCount; ++i) {
    const XmlAttribute& each = element->attributes[i];
    if (each.space.empty() && std::strcmp(each.name, name) == 0) {
      if (present != nullptr) *present = true;
      return each.value;
    }
  }
  if (present != nullptr) *present = false;
  return {};
}

const char* attributeIn(const XmlElement* element, std::string_view space, const char* name) {
  for (std::size_t i = 0; i < element->attributeCount; ++i) {
    const XmlAttribute& each = element->attributes[i];
    if (!each.space.empty() && each.space.find(space) != std::string_view::npos &&
        std::strcmp(each.name, name) == 0) {
      return each.value;
    }
  }
  return nullptr;
}

bool hasAttribute(const XmlElement* element, const char* name) {
  bool present = false;
  attribute(element, name, &present);
  return present;
}

std::string textOf(const XmlElement* element) { return std::string(element->text); }

std::vector<const XmlElement*> elementsIn(const XmlElement* parent) {
  std::vector<const XmlElement*> children;
  for (const XmlElement* child = parent->firstChild; child != nullptr; child = child->nextSibling) {
    children.push_back(child);
  }
  return children;
}

}  // namespace model::xmi
