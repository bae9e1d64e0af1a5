#include "interchange/xmi/xml_document.h"

#include <cstring>

#include "interchange/xmi/xml_stream.h"

namespace model::xmi {

// Builds an XmlDocument from the stream of parse events.
class XmlBuilder final : public XmlEvents {
 public:
  explicit XmlBuilder(XmlDocument& document) : document_(document) {}

  bool start(const XmlStart& start) override {
    XmlElement& element = document_.elements_.emplace_back();
    element.name = intern(start.name);
    element.space = intern(start.space);
    element.line = start.line;
    XmlAttribute* attribute = keepAttributes(start.attributes.size());
    element.attributes = attribute;
    element.attributeCount = start.attributes.size();
    for (const XmlStreamAttribute& each : start.attributes) {
      *attribute++ = XmlAttribute{intern(each.name).data(), keepText(each.value, true).data(),
                                  intern(each.space)};
    }
    if (open_.empty()) {
      document_.root_ = &element;
    } else {
      Open& parent = open_.back();
      (parent.lastChild != nullptr ? parent.lastChild->nextSibling : parent.element->firstChild) =
          &element;
      parent.lastChild = &element;
    }
    open_.push_back(Open{&element, nullptr, {}});
    return true;
  }

  void end() override {
    open_.back().element->text = keepText(open_.back().text);
    open_.pop_back();
  }

  void text(std::string_view characters) override { open_.back().text.append(characters); }

  void countCapitalised(std::size_t count) { document_.capitalised_ = count; }

 private:
  struct Open {
    XmlElement* element;
    XmlElement* lastChild;
    std::string text;  // so far
  };

  std::string_view intern(std::string_view name) { return document_.names_.intern(name); }

  // A copy of `text` in the document's blocks; `terminated`, followed by
  // a NUL.
  std::string_view keepText(std::string_view text, bool terminated = false) {
    if (text.empty() && !terminated) return {};
    char* kept = document_.text_.take(text.size() + (terminated ? 1 : 0));
    std::memcpy(kept, text.data(), text.size());
    if (terminated) kept[text.size()] = '\0';
    return {kept, text.size()};
  }

  XmlAttribute* keepAttributes(std::size_t count) {
    return count == 0 ? nullptr : document_.attributes_.take(count);
  }

  XmlDocument& document_;
  std::vector<Open> open_;
};

std::string_view NameTable::intern(std::string_view name) {
  if (name.empty()) return {};
  if (const auto found = names_.find(name); found != names_.end()) return *found;
  char* kept = text_.take(name.size() + 1);
  std::memcpy(kept, name.data(), name.size());
  kept[name.size()] = '\0';
  return *names_.emplace(kept, name.size()).first;
}

XmlDocument parseXml(const XmlSource& source, const std::string& name, std::size_t mostDepth) {
  XmlDocument document;
  XmlBuilder builder(document);
  builder.countCapitalised(streamXml(source, name, mostDepth, builder));
  return document;
}

std::string localName(const XmlElement* element) {
  // A prefix no namespace declares stays in the name: drop it too.
  const std::string_view name = element->name;
  return std::string(name.substr(name.find(':') + 1));
}

const char* attributeText(const XmlElement* element, const char* name) {
  for (std::size_t i = 0; i < element->attributeCount; ++i) {
    const XmlAttribute& each = element->attributes[i];
    if (each.space.empty() && std::strcmp(each.name, name) == 0) return each.value;
  }
  return nullptr;
}

std::string attribute(const XmlElement* element, const char* name, bool* present) {
  for (std::size_t i = 0; i < element->attributeCount; ++i) {
    const XmlAttribute& each = element->attributes[i];
    if (each.space.empty() && std::strcmp(each.name, name) == 0) {
      if (present != nullptr) *present = true;
      return each.value;
    }
  }
  if (present != nullptr) *present = false;
  return {};
}

const char* attributeIn(const XmlElement* element, std::string_view space, const char* name) {
  for (std::size_t i = 0; i < element->attributeCount; ++i) {
    const XmlAttribute& each = element->attributes[i];
    if (!each.space.empty() && each.space.find(space) != std::string_view::npos &&
        std::strcmp(each.name, name) == 0) {
      return each.value;
    }
  }
  return nullptr;
}

bool hasAttribute(const XmlElement* element, const char* name) {
  bool present = false;
  attribute(element, name, &present);
  return present;
}

std::string textOf(const XmlElement* element) { return std::string(element->text); }

std::vector<const XmlElement*> elementsIn(const XmlElement* parent) {
  std::vector<const XmlElement*> children;
  for (const XmlElement* child = parent->firstChild; child != nullptr; child = child->nextSibling) {
    children.push_back(child);
  }
  return children;
}

}  // namespace model::xmi
