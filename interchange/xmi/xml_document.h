#pragma once

// An XML document as a tree, for a reader that needs the whole of it at
// once (the UML 2 translation); the XMI 1.x reader streams instead
// (xml_stream.h, element_frames.h). It is read by streamXml, with its
// bounds and refusals.
//
// The document is kept compactly, as what a reader of XMI asks of it: each
// element's local name and namespace, line, attributes, text and child
// elements; libxml2's own tree, whose nodes take some 250 bytes an
// attribute, is never built. A document takes a few times its size in
// memory, whatever it holds.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "interchange/xmi/xml_stream.h"

namespace model::xmi {

struct XmlAttribute {
  const char* name;        // its local name, or PREFIX:NAME when the prefix is declared nowhere
  const char* value;       // as the document means it, references replaced
  std::string_view space;  // its namespace's URI; empty for none
};

// A reader's note on an element: none yet.
inline constexpr std::uint32_t kUnread = UINT32_MAX;

struct XmlElement {
  std::string_view name;   // local
  std::string_view space;  // its namespace's URI; empty for none
  int line = 0;
  // What a reader made of the element (an index of its own), so that it
  // keeps no table from elements to what they became; kUnread until then.
  mutable std::uint32_t reading = kUnread;
  const XmlAttribute* attributes = nullptr;
  std::size_t attributeCount = 0;
  std::string_view text;  // its own text (and CDATA), not its children's
  const XmlElement* firstChild = nullptr;
  const XmlElement* nextSibling = nullptr;
};

// Items kept in blocks, one allocation for many: each run taken at once is
// contiguous and stays where it is for the blocks' life.
template <class T, std::size_t kBlock>
class Blocks {
 public:
  T* take(std::size_t count) {
    if (count > left_) {
      const std::size_t size = std::max(kBlock, count);
      blocks_.push_back(std::make_unique<T[]>(size));
      next_ = blocks_.back().get();
      left_ = size;
    }
    T* taken = next_;
    next_ += count;
    left_ -= count;
    return taken;
  }

 private:
  std::vector<std::unique_ptr<T[]>> blocks_;
  T* next_ = nullptr;
  std::size_t left_ = 0;
};

// Names and namespaces, each kept once, NUL-terminated, for the table's life.
class NameTable {
 public:
  std::string_view intern(std::string_view name);

 private:
  std::unordered_set<std::string_view> names_;
  Blocks<char, std::size_t{1} << 16> text_;
};

class XmlDocument {
 public:
  const XmlElement* root() const { return root_; }
  // How many attributes were written XMI.NAME, as drafts before XMI 1.0
  // did; they are kept as xmi.NAME.
  std::size_t capitalisedXmiAttributes() const { return capitalised_; }

 private:
  friend class XmlBuilder;
  const XmlElement* root_ = nullptr;
  std::size_t capitalised_ = 0;
  std::deque<XmlElement> elements_;
  NameTable names_;
  Blocks<char, std::size_t{1} << 20> text_;  // the values and texts
  Blocks<XmlAttribute, std::size_t{1} << 14> attributes_;
};

// The parsed document; throws std::runtime_error naming `name`, the line and
// what is wrong.
XmlDocument parseXml(const XmlSource& source, const std::string& name, std::size_t mostDepth);
inline XmlDocument parseXml(std::string_view text, const std::string& name, std::size_t mostDepth) {
  return parseXml(TextSource(text), name, mostDepth);
}

// An element's local name (without its namespace prefix), attribute and
// text, as UTF-8.
std::string localName(const XmlElement* element);
// The attribute `name` in no namespace as the document holds it (for as
// long as the document lives); null when absent.
const char* attributeText(const XmlElement* element, const char* name);
// The attribute `name` in no namespace, or empty when absent; `present`
// tells the two apart.
std::string attribute(const XmlElement* element, const char* name, bool* present = nullptr);
// The attribute `name` in a namespace whose URI holds `space`; null when absent.
const char* attributeIn(const XmlElement* element, std::string_view space, const char* name);
bool hasAttribute(const XmlElement* element, const char* name);
// The text directly inside an element (its text and CDATA children).
std::string textOf(const XmlElement* element);
// The elements directly inside `parent`, in order.
std::vector<const XmlElement*> elementsIn(const XmlElement* parent);

}  // namespace model::xmi
