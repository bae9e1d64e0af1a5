#pragma once

// An XML document read by libxml2 as a stream of events, the way a server
// must read what strangers send: nothing is fetched from the network or
// the disk (no external DTD or entity), a document that declares any
// entity is refused (no XXE, no expansion bomb), and elements may nest
// `mostDepth` deep at most; the parse stops at the first element past it.
// Nothing of the document is kept: a reader keeps what it needs.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace model::xmi {

struct XmlStreamAttribute {
  std::string_view name;   // its local name, or PREFIX:NAME when the prefix is declared nowhere
  std::string_view value;  // as the document means it, references replaced
  std::string_view space;  // its namespace's URI; empty for none
};

// An element's start tag. Its texts last for the call that hands it over.
struct XmlStart {
  std::string_view name;   // local
  std::string_view space;  // its namespace's URI; empty for none
  int line = 0;
  std::span<const XmlStreamAttribute> attributes;
};

// What a reader of the stream is told, in document order. An exception
// thrown by any of them stops the parse and leaves streamXml.
class XmlEvents {
 public:
  virtual ~XmlEvents() = default;
  // False stops the parse there, quietly.
  virtual bool start(const XmlStart& element) = 0;
  // The element's own text and CDATA, in as many pieces as the parser likes.
  virtual void text(std::string_view characters) = 0;
  virtual void end() = 0;
};

// Where a document's text is read from, a piece at a time, from its start
// as often as a reader reads it through.
class XmlSource {
 public:
  virtual ~XmlSource() = default;
  virtual std::uint64_t size() const = 0;
  // Up to `most` bytes from `offset` into `into`; fewer only where the
  // text ends. Throws when it cannot be read.
  virtual std::size_t readAt(std::uint64_t offset, char* into, std::size_t most) const = 0;
};

// A text in memory.
class TextSource final : public XmlSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  std::uint64_t size() const override { return text_.size(); }
  std::size_t readAt(std::uint64_t offset, char* into, std::size_t most) const override;

 private:
  std::string_view text_;
};

// Reads the document named `name` from `source` into `events`; throws
// std::runtime_error naming the document, the line and what is wrong.
// Answers how many attributes were written XMI.NAME, as drafts before
// XMI 1.0 did; they are handed over as xmi.NAME.
std::size_t streamXml(const XmlSource& source, const std::string& name, std::size_t mostDepth,
                      XmlEvents& events);
inline std::size_t streamXml(std::string_view text, const std::string& name, std::size_t mostDepth,
                             XmlEvents& events) {
  return streamXml(TextSource(text), name, mostDepth, events);
}

}  // namespace model::xmi
