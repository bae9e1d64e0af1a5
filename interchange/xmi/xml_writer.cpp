#include "interchange/xmi/xml_writer.h"

#include <new>
#include <stdexcept>

namespace model::xmi {
namespace {

const xmlChar* chars(const std::string& text) {
  return reinterpret_cast<const xmlChar*>(text.c_str());
}

}  // namespace

// The most a writer with a sink holds before it gives it on.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

XmlWriter::XmlWriter(std::size_t mostBytes, bool indent, XmlSink sink)
    : buffer_(xmlBufferCreate()), mostBytes_(mostBytes), sink_(std::move(sink)) {
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
  if (drained_ + static_cast<std::size_t>(xmlBufferLength(buffer_.get())) > mostBytes_) {
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

void XmlWriter::end() {
  check(xmlTextWriterEndElement(writer_.get()));
  if (sink_ && static_cast<std::size_t>(xmlBufferLength(buffer_.get())) > kPieceBytes) {
    check(xmlTextWriterFlush(writer_.get()));
    drain();
  }
}

// Gives what the buffer holds to the sink, and empties it.
void XmlWriter::drain() {
  const auto length = static_cast<std::size_t>(xmlBufferLength(buffer_.get()));
  sink_(std::string_view(reinterpret_cast<const char*>(xmlBufferContent(buffer_.get())), length));
  drained_ += length;
  xmlBufferEmpty(buffer_.get());
}

std::string XmlWriter::finish() {
  check(xmlTextWriterEndDocument(writer_.get()));
  writer_.reset();  // flushes into the buffer
  if (sink_) {
    drain();
    return {};
  }
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer_.get())),
                     static_cast<std::size_t>(xmlBufferLength(buffer_.get())));
}

}  // namespace model::xmi
