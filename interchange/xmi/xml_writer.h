#pragma once

// XML text written through libxml2's text writer, which escapes what must
// be: elements, attributes and text in order, the document whole at the
// end. Throws std::runtime_error when libxml2 refuses (text XML cannot
// carry) or the text grows past `mostBytes`.

#include <libxml/xmlwriter.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace model::xmi {

class XmlWriter {
 public:
  XmlWriter(std::size_t mostBytes, bool indent);
  ~XmlWriter();
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  void start(const std::string& name);
  void attribute(const std::string& name, const std::string& value);
  void text(const std::string& text);
  void end();
  // The document, every element ended.
  std::string finish();

 private:
  void check(int result);
  struct BufferFree {
    void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
  };
  struct WriterFree {
    void operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }
  };
  std::unique_ptr<xmlBuffer, BufferFree> buffer_;
  std::unique_ptr<xmlTextWriter, WriterFree> writer_;
  std::size_t mostBytes_;
};

}  // namespace model::xmi
