#pragma once

// An XML document parsed by libxml2 the way a server must parse what
// strangers send: nothing is fetched from the network or the disk (no
// external DTD or entity), a document that declares any entity is refused
// (no XXE, no expansion bomb), and the caller bounds the size and how deep
// elements may nest; the parse stops at the first element past that depth.

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace model::xmi {

struct XmlDocumentFree {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using XmlDocument = std::unique_ptr<xmlDoc, XmlDocumentFree>;

// The parsed document; throws std::runtime_error naming `name`, the line and
// what is wrong.
XmlDocument parseXml(std::string_view text, const std::string& name, std::size_t mostDepth);

// An element's local name (without its namespace prefix), attribute and
// text, as UTF-8.
std::string localName(const xmlNode* element);
// The attribute `name` (no namespace), or empty when absent; `present`
// tells the two apart.
std::string attribute(const xmlNode* element, const char* name, bool* present = nullptr);
// The text directly inside an element (its text and CDATA children).
std::string textOf(const xmlNode* element);

}  // namespace model::xmi
