#pragma once

// The parts of a streamed document a reader keeps while it reads: frames.
// A frame is one element the reader works on as a whole, with what it
// holds, as a small tree of XmlElement (xml_document.h); the elements
// inside it that are worked on by themselves stand in it as stubs, their
// start tag alone, with the reading noted on them. A frame lives until its
// element ends and the reader has done with it, so the memory kept follows
// the open elements, not the document.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "interchange/xmi/xml_document.h"
#include "interchange/xmi/xml_stream.h"

namespace model::xmi {

// Memory taken and given back last in, first out: a frame's elements are
// given back at once when it ends. Its chunks stay, for the next frames.
class StackArena {
 public:
  struct Mark {
    std::size_t chunk = 0;
    std::size_t used = 0;
  };
  void* take(std::size_t bytes, std::size_t alignment);
  Mark mark() const { return {current_, used_}; }
  void release(Mark mark) {
    current_ = mark.chunk;
    used_ = mark.used;
  }

 private:
  struct Chunk {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t size;
  };
  std::vector<Chunk> chunks_;
  std::size_t current_ = 0;
  std::size_t used_ = 0;
};

class ElementFrames {
 public:
  // How an element opened inside a kept one is kept: whole, with what it
  // holds; as a stub (its start tag, no text or children), with its
  // attributes or without; or not at all. Inside an element not kept,
  // nothing is.
  enum class Keep { Whole, Stub, BareStub, Nothing };

  void enter(const XmlStart& start, Keep keep, std::uint32_t reading = kUnread);
  // Opens a frame of its own at this element, a bare stub in its parent
  // when that is kept.
  void enterFrame(const XmlStart& start, std::uint32_t reading);
  void text(std::string_view characters);
  // Closes the innermost element; when it opened a frame, hands the
  // frame's element to `done`, then gives the frame back.
  template <class Done>
  void leave(Done&& done) {
    Open& open = open_.back();
    if (open.element != nullptr) closeText(open);
    if (open.frame) {
      const StackArena::Mark mark = open.mark;
      done(static_cast<const XmlElement*>(open.element));
      arena_.release(mark);
    }
    open_.pop_back();
  }

  NameTable& names() { return names_; }

 private:
  struct Open {
    XmlElement* element;  // null when what it holds is not kept
    XmlElement* lastChild;
    std::size_t textStart;  // where its text starts in pending_
    bool frame;
    StackArena::Mark mark;  // for a frame: where its memory starts
  };

  XmlElement* make(const XmlStart& start, bool withAttributes, std::uint32_t reading);
  void attach(XmlElement* child);
  void closeText(Open& open);

  StackArena arena_;
  NameTable names_;
  std::vector<Open> open_;
  std::string pending_;  // the texts of the kept open elements, innermost last
};

// Copies of frames kept past their end, for the reading's life. Their
// names stay the frames' NameTable's.
class KeptElements {
 public:
  const XmlElement* keep(const XmlElement* element);

 private:
  XmlElement* copyOf(const XmlElement* element);

  std::deque<XmlElement> elements_;
  Blocks<char, std::size_t{1} << 16> text_;
  Blocks<XmlAttribute, std::size_t{1} << 10> attributes_;
};

}  // namespace model::xmi
