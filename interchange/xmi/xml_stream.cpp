#include "interchange/xmi/xml_stream.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

namespace model::xmi {
namespace {

std::string_view viewOf(const xmlChar* text) {
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text));
}

// Hands libxml2's events on to the reader, with its attributes as a reader
// of XMI takes them; keeps what stops the parse.
class Relay {
 public:
  Relay(XmlEvents& events, std::size_t mostDepth) : events_(events), mostDepth_(mostDepth) {}

  bool entityDeclared = false;
  bool tooDeep = false;
  bool stopped = false;
  std::exception_ptr failure;
  std::size_t capitalised = 0;

  // False when the parse is to stop.
  bool start(const xmlChar* localName, const xmlChar* space, int line, int attributeCount,
             const xmlChar** attributes) {
    if (depth_ >= mostDepth_) {
      tooDeep = true;
      return false;
    }
    ++depth_;
    const auto count = static_cast<std::size_t>(attributeCount);
    if (names_.size() < count) {
      names_.resize(count);
      values_.resize(count);
    }
    attributes_.clear();
    // Five pointers an attribute: local name, prefix, namespace, value, value's end.
    for (std::size_t i = 0; i < count; ++i) {
      const xmlChar* const* each = attributes + 5 * i;
      std::string& name = names_[i];
      name.assign(viewOf(each[0]));
      const std::string_view inSpace = viewOf(each[2]);
      if (each[1] != nullptr && inSpace.empty()) name.insert(0, std::string(viewOf(each[1])) + ":");
      if (inSpace.empty() && name.rfind("XMI.", 0) == 0) {
        name.replace(0, 3, "xmi");
        ++capitalised;
      }
      decode(std::string_view(reinterpret_cast<const char*>(each[3]),
                              static_cast<std::size_t>(each[4] - each[3])),
             values_[i]);
    }
    for (std::size_t i = 0; i < count; ++i) {
      attributes_.push_back(
          XmlStreamAttribute{names_[i], values_[i], viewOf(attributes[5 * i + 2])});
    }
    return events_.start(XmlStart{viewOf(localName), viewOf(space), line, attributes_});
  }

  void end() {
    --depth_;
    events_.end();
  }

  void text(const xmlChar* characters, int length) {
    if (depth_ > 0) {
      events_.text(std::string_view(reinterpret_cast<const char*>(characters),
                                    static_cast<std::size_t>(length)));
    }
  }

 private:
  // libxml2 leaves the character reference &#38; in an attribute's value
  // (for &amp; and &#38;) for the tree builder it would call to replace.
  static void decode(std::string_view raw, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw.compare(i, 5, "&#38;") == 0) {
        out += '&';
        i += 4;
      } else {
        out += raw[i];
      }
    }
  }

  XmlEvents& events_;
  std::size_t mostDepth_;
  std::size_t depth_ = 0;
  std::vector<std::string> names_;
  std::vector<std::string> values_;
  std::vector<XmlStreamAttribute> attributes_;
};

struct ParserContextFree {
  void operator()(xmlParserCtxt* context) const {
    if (context->myDoc != nullptr) xmlFreeDoc(context->myDoc);
    xmlFreeParserCtxt(context);
  }
};

xmlParserCtxt* parserOf(void* context) noexcept { return static_cast<xmlParserCtxt*>(context); }
Relay& relayOf(void* context) noexcept {
  return *static_cast<Relay*>(parserOf(context)->_private);
}

void stop(void* context) noexcept {
  relayOf(context).stopped = true;
  xmlStopParser(parserOf(context));
}

// Runs one event for the reader; what it throws stops the parse and is
// thrown again past libxml2, which is C and must not be unwound through.
template <class Event>
void guarded(void* context, Event&& event) noexcept {
  Relay& relay = relayOf(context);
  if (relay.stopped) return;
  try {
    if (!event(relay)) stop(context);
  } catch (...) {
    relay.failure = std::current_exception();
    stop(context);
  }
}

// Stops the parse at the first entity declaration: an XMI document needs
// none, and refusing them all rules out external entities and expansion
// bombs alike, whatever the parser would do with them.
void refuseEntity(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*,
                  xmlChar*) noexcept {
  relayOf(context).entityDeclared = true;
  stop(context);
}

void refuseUnparsedEntity(void* context, const xmlChar*, const xmlChar*, const xmlChar*,
                          const xmlChar*) noexcept {
  refuseEntity(context, nullptr, 0, nullptr, nullptr, nullptr);
}

void startElement(void* context, const xmlChar* localName, const xmlChar*, const xmlChar* space,
                  int, const xmlChar**, int attributeCount, int,
                  const xmlChar** attributes) noexcept {
  guarded(context, [&](Relay& relay) {
    return relay.start(localName, space, xmlSAX2GetLineNumber(context), attributeCount, attributes);
  });
}

void endElement(void* context, const xmlChar*, const xmlChar*, const xmlChar*) noexcept {
  guarded(context, [](Relay& relay) {
    relay.end();
    return true;
  });
}

void characters(void* context, const xmlChar* text, int length) noexcept {
  guarded(context, [&](Relay& relay) {
    relay.text(text, length);
    return true;
  });
}

// Where libxml2 reads the source from next; what failed reading it.
struct Reading {
  const XmlSource& source;
  std::uint64_t offset = 0;
  std::exception_ptr failure = nullptr;
};

int readPiece(void* context, char* buffer, int length) noexcept {
  auto& reading = *static_cast<Reading*>(context);
  try {
    const std::size_t got =
        reading.source.readAt(reading.offset, buffer, static_cast<std::size_t>(length));
    reading.offset += got;
    return static_cast<int>(got);
  } catch (...) {
    reading.failure = std::current_exception();  // thrown again past libxml2
    return -1;
  }
}

// libxml2 writes some errors to stderr whatever the parse options say,
// with the document's bytes quoted raw (an encoding that does not convert).
// Its errors are read back from the parser instead, and the one that fails
// a document travels in the exception, which the server logs as it logs
// every failed call.
void keepQuiet(void*, xmlError*) noexcept {}
void keepQuietGeneric(void*, const char*, ...) noexcept {}

}  // namespace

std::size_t TextSource::readAt(std::uint64_t offset, char* into, std::size_t most) const {
  if (offset >= text_.size()) return 0;
  const std::size_t taken = std::min(text_.size() - offset, most);
  std::memcpy(into, text_.data() + offset, taken);
  return taken;
}

std::size_t streamXml(const XmlSource& source, const std::string& name, std::size_t mostDepth,
                      XmlEvents& events) {
  xmlInitParser();
  xmlSetStructuredErrorFunc(nullptr, keepQuiet);
  xmlSetGenericErrorFunc(nullptr, keepQuietGeneric);
  // Read through a callback, a piece at a time, so that libxml2 holds no
  // copy of the whole text (a parser made on memory copies it).
  Reading reading{source};
  std::unique_ptr<xmlParserCtxt, ParserContextFree> parser(xmlCreateIOParserCtxt(
      nullptr, nullptr, readPiece, nullptr, &reading, XML_CHAR_ENCODING_NONE));
  if (!parser) throw std::bad_alloc();
  // XML_PARSE_HUGE lifts libxml2's own bounds (10 MB of look-ahead in a
  // document held in memory, 256 levels), which the caller and the depth
  // count set instead.
  xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                      XML_PARSE_NOCDATA | XML_PARSE_HUGE);
  Relay relay(events, mostDepth);
  parser->_private = &relay;
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
  if (reading.failure) std::rethrow_exception(reading.failure);
  if (relay.failure) std::rethrow_exception(relay.failure);
  if (relay.entityDeclared) {
    throw std::runtime_error("XMI document '" + name +
                             "' declares an entity: entities are refused (XMI needs none)");
  }
  if (relay.tooDeep) {
    throw std::runtime_error(
        "XMI document '" + name + "' line " + std::to_string(xmlSAX2GetLineNumber(parser.get())) +
        ": elements nest deeper than " + std::to_string(mostDepth) + " levels");
  }
  if (relay.stopped) return relay.capitalised;  // as the reader asked
  if (!parser->wellFormed) {
    const xmlError* error = xmlCtxtGetLastError(parser.get());
    std::string why = error != nullptr && error->message != nullptr ? error->message : "not XML";
    while (!why.empty() && why.back() == '\n') why.pop_back();
    const int line = error != nullptr ? error->line : 0;
    throw std::runtime_error("XMI document '" + name + "' line " + std::to_string(line) + ": " +
                             why);
  }
  return relay.capitalised;
}

}  // namespace model::xmi
