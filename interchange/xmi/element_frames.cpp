#include "interchange/xmi/element_frames.h"

#include <cstring>
#include <new>

namespace model::xmi {

void* StackArena::take(std::size_t bytes, std::size_t alignment) {
  constexpr std::size_t kChunkBytes = std::size_t{64} << 10;
  if (!chunks_.empty()) {
    const std::size_t start = (used_ + alignment - 1) & ~(alignment - 1);
    if (start + bytes <= chunks_[current_].size) {
      used_ = start + bytes;
      return chunks_[current_].bytes.get() + start;
    }
    ++current_;
  }
  if (current_ == chunks_.size()) {
    chunks_.push_back(Chunk{nullptr, 0});
  }
  Chunk& chunk = chunks_[current_];
  if (chunk.size < bytes) {  // new, or too small for this take
    const std::size_t size = std::max(kChunkBytes, bytes);
    chunk.bytes = std::make_unique<std::byte[]>(size);
    chunk.size = size;
  }
  used_ = bytes;
  return chunk.bytes.get();
}

namespace {

// A copy of `text` in `take`'s memory, followed by a NUL.
template <class Take>
const char* copied(std::string_view text, Take&& take) {
  char* kept = static_cast<char*>(take(text.size() + 1));
  std::memcpy(kept, text.data(), text.size());
  kept[text.size()] = '\0';
  return kept;
}

}  // namespace

XmlElement* ElementFrames::make(const XmlStart& start, bool withAttributes, std::uint32_t reading) {
  auto take = [this](std::size_t bytes) { return arena_.take(bytes, 1); };
  auto* element = new (arena_.take(sizeof(XmlElement), alignof(XmlElement))) XmlElement{};
  element->name = names_.intern(start.name);
  element->space = names_.intern(start.space);
  element->line = start.line;
  element->reading = reading;
  if (withAttributes && !start.attributes.empty()) {
    const std::size_t count = start.attributes.size();
    auto* attributes = static_cast<XmlAttribute*>(
        arena_.take(count * sizeof(XmlAttribute), alignof(XmlAttribute)));
    for (std::size_t i = 0; i < count; ++i) {
      const XmlStreamAttribute& each = start.attributes[i];
      new (attributes + i) XmlAttribute{names_.intern(each.name).data(), copied(each.value, take),
                                        names_.intern(each.space)};
    }
    element->attributes = attributes;
    element->attributeCount = count;
  }
  return element;
}

void ElementFrames::attach(XmlElement* child) {
  Open& parent = open_.back();
  (parent.lastChild != nullptr ? parent.lastChild->nextSibling : parent.element->firstChild) =
      child;
  parent.lastChild = child;
}

void ElementFrames::enter(const XmlStart& start, Keep keep, std::uint32_t reading) {
  XmlElement* element = nullptr;
  if (!open_.empty() && open_.back().element != nullptr && keep != Keep::Nothing) {
    XmlElement* made = make(start, keep != Keep::BareStub, reading);
    attach(made);
    if (keep == Keep::Whole) element = made;
  }
  open_.push_back(Open{element, nullptr, pending_.size(), false, {}});
}

void ElementFrames::enterFrame(const XmlStart& start, std::uint32_t reading) {
  if (!open_.empty() && open_.back().element != nullptr) attach(make(start, false, reading));
  const StackArena::Mark mark = arena_.mark();
  XmlElement* root = make(start, true, reading);
  open_.push_back(Open{root, nullptr, pending_.size(), true, mark});
}

void ElementFrames::text(std::string_view characters) {
  if (!open_.empty() && open_.back().element != nullptr) pending_.append(characters);
}

void ElementFrames::closeText(Open& open) {
  const std::size_t length = pending_.size() - open.textStart;
  if (length > 0) {
    char* kept = static_cast<char*>(arena_.take(length, 1));
    std::memcpy(kept, pending_.data() + open.textStart, length);
    open.element->text = std::string_view(kept, length);
    pending_.resize(open.textStart);
  }
}

const XmlElement* KeptElements::keep(const XmlElement* element) { return copyOf(element); }

XmlElement* KeptElements::copyOf(const XmlElement* element) {
  XmlElement& copy = elements_.emplace_back(*element);
  copy.nextSibling = nullptr;
  copy.firstChild = nullptr;
  auto take = [this](std::size_t bytes) { return text_.take(bytes); };
  if (!element->text.empty()) {
    copy.text = std::string_view(copied(element->text, take), element->text.size());
  }
  if (element->attributeCount > 0) {
    XmlAttribute* attributes = attributes_.take(element->attributeCount);
    for (std::size_t i = 0; i < element->attributeCount; ++i) {
      attributes[i] = element->attributes[i];
      attributes[i].value = copied(element->attributes[i].value, take);
    }
    copy.attributes = attributes;
  }
  XmlElement* last = nullptr;
  for (const XmlElement* child = element->firstChild; child != nullptr;
       child = child->nextSibling) {
    XmlElement* made = copyOf(child);
    (last != nullptr ? last->nextSibling : copy.firstChild) = made;
    last = made;
  }
  return &copy;
}

}  // namespace model::xmi
