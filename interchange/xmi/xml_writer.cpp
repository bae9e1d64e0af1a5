#include "interchange/xmi/xml_writer.h"

#include <new>
#include <stdexcept>

namespace model::xmi {
namespace {

const xmlChar* chars(const std::string& text) {
  return reinterpret_cast<const xmlChar*>(text.c_str());
}

}  // namespace

XmlWriter::XmlWriter(std::size_t mostBytes, bool indent)
    : buffer_(xmlBufferCreate()), mostBytes_(mostBytes) {
  if (!buffer_) throw std::bad_alloc();
  writer_.reset(xmlNewTextWriterMemory(buffer_.get(), 0));
  if (!writer_) throw std::bad_alloc();
  if (indent) {
    xmlTextWriterSetIndent(writer_.get(), 1);
    xmlTextWriterSetIndentString(writer_.get(), reinterpret_cast<const xmlChar*>("  "));
  }
  check(xmlTextWriterStartDocument(writer_.get(), "1.0", "UTF-8", nullptr));
}

XmlWriter::~XmlWriter() = default;

void XmlWriter::check(int result) {
  if (result < 0) throw std::runtime_error("the XML could not be written (text XML cannot carry)");
  if (static_cast<std::size_t>(xmlBufferLength(buffer_.get())) > mostBytes_) {
    throw std::runtime_error("the XML would be larger than " + std::to_string(mostBytes_ >> 20) +
                             " MiB");
  }
}

void XmlWriter::start(const std::string& name) {
  check(xmlTextWriterStartElement(writer_.get(), chars(name)));
}

void XmlWriter::attribute(const std::string& name, const std::string& value) {
  check(xmlTextWriterWriteAttribute(writer_.get(), chars(name), chars(value)));
}

void XmlWriter::text(const std::string& text) {
  check(xmlTextWriterWriteString(writer_.get(), chars(text)));
}

void XmlWriter::end() { check(xmlTextWriterEndElement(writer_.get())); }

std::string XmlWriter::finish() {
  check(xmlTextWriterEndDocument(writer_.get()));
  writer_.reset();  // flushes into the buffer
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer_.get())),
                     static_cast<std::size_t>(xmlBufferLength(buffer_.get())));
}

}  // namespace model::xmi
