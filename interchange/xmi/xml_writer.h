#pragma once

// XML text written through libxml2's text writer, which escapes what must
// be: elements, attributes and text in order, the document whole at the
// end, or given to a sink a piece at a time as it grows, so that it is never
// held whole. Throws std::runtime_error when libxml2 refuses (text XML
// cannot carry) or the text grows past `mostBytes`.

#include <libxml/xmlwriter.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace model::xmi {

// Takes the next piece of a document.
using XmlSink = std::function<void(std::string_view)>;

class XmlWriter {
 public:
  // The pieces go to `sink` once some are written; without one, `finish`
  // answers the document.
  XmlWriter(std::size_t mostBytes, bool indent, XmlSink sink = {});
  ~XmlWriter();
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  void start(const std::string& name);
  void attribute(const std::string& name, const std::string& value);
  void text(const std::string& text);
  void end();
  // The document, every element ended (the rest of it, given to the sink).
  std::string finish();

 private:
  void check(int result);
  void drain();
  struct BufferFree {
    void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
  };
  struct WriterFree {
    void operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }
  };
  std::unique_ptr<xmlBuffer, BufferFree> buffer_;
  std::unique_ptr<xmlTextWriter, WriterFree> writer_;
  std::size_t mostBytes_;
  XmlSink sink_;
  std::size_t drained_ = 0;  // bytes given to the sink
};

}  // namespace model::xmi
