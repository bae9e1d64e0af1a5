#include "interchange/xmi/xmi_writer.h"

#include <libxml/xmlwriter.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "model_classes.h"
#include "interchange/xmi/xmi_reader.h"
#include "utf/utf.h"

namespace model::xmi {
namespace {

struct BufferFree {
  void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
};
struct TextWriterFree {
  void operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }
};

const xmlChar* chars(const std::string& text) {
  return reinterpret_cast<const xmlChar*>(text.c_str());
}

// The expression metaclass a value class is written in; empty for plain text.
std::string expressionOf(ValueClassId valueClass) {
  static const std::map<ValueClassId, std::string> expressions = {
      {QOVIXExpression::kValueClassId, "Expression"},
      {QOVIXBooleanExpression::kValueClassId, "BooleanExpression"},
      {QOVIXObjectSetExpression::kValueClassId, "ObjectSetExpression"},
      {QOVIXProcedureExpression::kValueClassId, "ProcedureExpression"},
      {QOVIXTimeExpression::kValueClassId, "TimeExpression"},
      {QOVIXMapping::kValueClassId, "MappingExpression"},
  };
  const auto found = expressions.find(valueClass);
  return found == expressions.end() ? std::string() : found->second;
}

// Whether XML 1.0 can carry the text: no control characters but tab, line
// feed and carriage return, no U+FFFE or U+FFFF, surrogates only in pairs.
bool xmlCarries(std::u16string_view text) {
  for (const char16_t unit : text) {
    if (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') return false;
    if (unit == 0xFFFE || unit == 0xFFFF) return false;
  }
  return isWellFormedUtf16(text);
}

class Writer {
 public:
  Writer(const PersistentStore& store, const std::vector<ObjectId>& objects, Uml uml,
         ExportReport& report, const XmlSink& sink)
      : store_(store), objects_(objects), uml_(uml), report_(report), sink_(sink) {
    for (ObjectId id : objects)
      numbers_.emplace(id, static_cast<std::uint32_t>(numbers_.size() + 1));
    written_.reserve(objects.size());
  }

  void write() {
    buffer_.reset(xmlBufferCreate());
    if (!buffer_) throw std::bad_alloc();
    writer_.reset(xmlNewTextWriterMemory(buffer_.get(), 0));
    if (!writer_) throw std::bad_alloc();
    xmlTextWriterSetIndent(writer_.get(), 1);
    xmlTextWriterSetIndentString(writer_.get(), chars("  "));
    check(xmlTextWriterStartDocument(writer_.get(), "1.0", "UTF-8", nullptr));
    report_.format = uml_ == Uml::V14 ? "XMI 1.2, UML 1.4" : "XMI 1.0, UML 1.3";
    start("XMI");
    attribute("xmi.version", uml_ == Uml::V14 ? "1.2" : "1.0");
    if (uml_ == Uml::V14) attribute("xmlns:UML", "org.omg.xmi.namespace.UML");
    start("XMI.header");
    start("XMI.documentation");
    element("XMI.exporter", "QOVIX_os");
    end();
    start("XMI.metamodel");
    attribute("xmi.name", "UML");
    attribute("xmi.version", uml_ == Uml::V14 ? "1.4" : "1.3");
    end();
    end();
    start("XMI.content");
    // The package nests what it contains; what nothing nests (a
    // generalization no namespace owns) follows it.
    std::vector<Step> steps;
    for (ObjectId id : objects_) steps.emplace_back([this, id] { objectUnlessWritten(id); });
    run(std::move(steps));
    end();
    end();
    check(xmlTextWriterEndDocument(writer_.get()));
    writer_.reset();  // flushes into the buffer
    // A document the reader would refuse is no export.
    if (drained_ + static_cast<std::size_t>(xmlBufferLength(buffer_.get())) >
        store_.settings().mostDocumentBytes) {
      tooLarge();
    }
    drain();
  }

 private:
  static void check(int result) {
    if (result < 0) throw std::runtime_error("the XMI document could not be written");
  }
  void start(const std::string& name) {
    if (depth_ == kMostXmiDepth) {
      throw std::runtime_error(
          "the package nests its contents too deep for XMI: a document nests at most " +
          std::to_string(kMostXmiDepth) + " elements (about " +
          std::to_string(kMostXmiDepth / 2 - 3) + " owned objects) deep, and no reader takes more");
    }
    check(xmlTextWriterStartElement(writer_.get(), chars(name)));
    ++depth_;
  }
  void end() {
    check(xmlTextWriterEndElement(writer_.get()));
    --depth_;
  }

  // The document is written by steps from a stack, never by recursion: an
  // object's steps (its properties, its end) go on the stack above what
  // follows it, so however deep the contents nest, the call stack does not.
  using Step = std::function<void()>;
  void run(std::vector<Step> first) {
    push(std::move(first));
    while (!pending_.empty()) {
      Step step = std::move(pending_.back());
      pending_.pop_back();
      step();
    }
  }
  // Puts `steps` on the stack so that they run in their order, before what
  // is there already.
  void push(std::vector<Step> steps) {
    for (auto each = steps.rbegin(); each != steps.rend(); ++each) {
      pending_.push_back(std::move(*each));
    }
  }
  std::string idOf(ObjectId id) const {
    return std::string("a").append(std::to_string(numbers_.at(id)));
  }

  void objectUnlessWritten(ObjectId id) {
    if (written_.count(id) == 0) object(id);
  }
  void attribute(const std::string& name, const std::string& value) {
    check(xmlTextWriterWriteAttribute(writer_.get(), chars(name), chars(value)));
  }
  void text(const std::string& value) {
    check(xmlTextWriterWriteString(writer_.get(), chars(value)));
  }
  void element(const std::string& name, const std::string& value) {
    start(name);
    text(value);
    end();
  }

  std::string metaclassTag(ClassId classId) const {
    return (uml_ == Uml::V14 ? std::string("UML") : packagePath(classId))
        .append(uml_ == Uml::V14 ? ":" : ".")
        .append(metaclassName(classId));
  }
  std::string expressionTag(const std::string& metaclass) const {
    return std::string(uml_ == Uml::V14 ? "UML:" : "Foundation.Data_Types.").append(metaclass);
  }
  std::string propertyTag(const PropertyName& name) const {
    if (uml_ == Uml::V14)
      return std::string("UML:").append(name.owner).append(".").append(name.name);
    const ClassId owner = classForMetaclass(name.owner);
    return (owner != 0 ? packagePath(owner) : std::string("Foundation.Core")) + "." + name.owner +
           "." + name.name;
  }

  std::string textOf(const StoredValue& value, const FeatureInfo& feature, ObjectId id) const {
    if (!xmlCarries(value.text)) {
      throw std::invalid_argument("the " + std::string(feature.name) + " of object " +
                                  std::to_string(id) + " holds a character XML cannot carry");
    }
    return utf::toUtf8(value.text);
  }

  std::string valueText(const StoredValue& value, const FeatureInfo& feature, ObjectId id,
                        bool standard) const {
    const ValueClassInfo* info = valueClassInfo(value.valueClass);
    if (info != nullptr && info->payload == ValuePayload::Text) return textOf(value, feature, id);
    if (feature.id == feature::QOVIXAssociationEnd_isOrdered && standard) {
      return value.number != 0 ? "ordered" : "unordered";
    }
    if (hasLiterals(value.valueClass)) return literalName(value.valueClass, value.number);
    return std::to_string(value.number);
  }

  // The objects of the document a reference or collection holds.
  std::vector<ObjectId> targets(ObjectId id, const FeatureInfo& feature) const {
    std::vector<ObjectId> held;
    if (feature.kind == FeatureKind::Single || feature.kind == FeatureKind::ReadOnly) {
      held.push_back(store_.reference(id, feature.id));
    } else {
      held = store_.members(id, feature.id);
    }
    std::erase_if(held, [&](ObjectId each) { return numbers_.count(each) == 0; });
    return held;
  }

  bool hasContent(ObjectId id, const FeatureInfo& feature) const {
    switch (feature.kind) {
      case FeatureKind::Attribute:
      case FeatureKind::Hidden:
        return store_.value(id, feature.id).has_value();
      case FeatureKind::Values:
        return !store_.values(id, feature.id).empty();
      case FeatureKind::Single:
      case FeatureKind::ReadOnly:
        return numbers_.count(store_.reference(id, feature.id)) != 0;
      default: {
        // Most collections are empty: count before looking at the members.
        if (store_.memberCount(id, feature.id) == 0) return false;
        const std::vector<ObjectId> members = store_.members(id, feature.id);
        return std::any_of(members.begin(), members.end(),
                           [&](ObjectId each) { return numbers_.count(each) != 0; });
      }
    }
  }

  // propertyName, asked once per feature and class.
  const PropertyName& nameOf(const FeatureInfo& feature, ClassId classId) {
    const auto key = std::make_pair(feature.id, classId);
    if (const auto found = names_.find(key); found != names_.end()) return found->second;
    return names_[key] = propertyName(feature, classId, uml_);
  }

  void object(ObjectId id) {
    written_.insert(id);
    const ClassId classId = store_.classOf(id);
    ++report_.written[metaclassName(classId)];
    start(metaclassTag(classId));
    attribute("xmi.id", idOf(id));
    std::vector<std::pair<const FeatureInfo*, PropertyName>> standard;
    std::vector<std::pair<const FeatureInfo*, PropertyName>> extension;
    for (const FeatureId slot : store_.writtenFeatures(id)) {
      const FeatureInfo& feature = featureInfo(slot);
      if (feature.owner != 0 && !conformsTo(classId, feature.owner)) continue;
      if (!hasContent(id, feature)) continue;
      PropertyName name = nameOf(feature, classId);
      (name.standard ? standard : extension).emplace_back(&feature, std::move(name));
    }
    // XMI 1.2 writes plain values as attributes of the element.
    std::set<std::string> asAttributes;
    if (uml_ == Uml::V14) {
      for (auto& [feature, name] : standard) {
        const bool plain =
            (feature->kind == FeatureKind::Attribute || feature->kind == FeatureKind::Hidden) &&
            expressionOf(feature->valueClass).empty();
        if (!plain || !asAttributes.insert(name.name).second) continue;
        attribute(name.name, valueText(*store_.value(id, feature->id), *feature, id, true));
        feature = nullptr;
      }
    }
    std::vector<Step> steps;
    for (auto& [feature, name] : standard) {
      if (feature == nullptr) continue;
      steps.emplace_back(
          [this, id, info = feature, name = std::move(name)] { property(id, *info, name, true); });
    }
    if (!extension.empty()) {
      steps.emplace_back([this] {
        start("XMI.extension");
        attribute("xmi.extender", "QOVIX");
      });
      for (auto& [feature, name] : extension) {
        steps.emplace_back([this, id, info = feature, name = std::move(name)] {
          property(id, *info, name, false);
        });
      }
      steps.emplace_back([this] { end(); });
    }
    steps.emplace_back([this] {
      end();
      // Stop as soon as the document is too large to be read back; give
      // on what is written a MiB at a time, never holding it whole.
      check(xmlTextWriterFlush(writer_.get()));
      const auto held = static_cast<std::size_t>(xmlBufferLength(buffer_.get()));
      if (drained_ + held > store_.settings().mostDocumentBytes) tooLarge();
      if (held > (std::size_t{1} << 20)) drain();
    });
    push(std::move(steps));
  }

  void drain() {
    const auto length = static_cast<std::size_t>(xmlBufferLength(buffer_.get()));
    sink_(std::string_view(reinterpret_cast<const char*>(xmlBufferContent(buffer_.get())), length));
    drained_ += length;
    xmlBufferEmpty(buffer_.get());
  }

  [[noreturn]] void tooLarge() const {
    throw std::runtime_error("the package makes an XMI document larger than " +
                             std::to_string(store_.settings().mostDocumentBytes >> 20) +
                             " MiB, which would not be read back");
  }

  void property(ObjectId id, const FeatureInfo& feature, const PropertyName& name, bool standard) {
    const std::string tag = propertyTag(name);
    switch (feature.kind) {
      case FeatureKind::Attribute:
      case FeatureKind::Hidden:
        start(tag);
        value(*store_.value(id, feature.id), feature, id, standard);
        end();
        return;
      case FeatureKind::Values:
        values(id, feature, tag, standard);
        return;
      default: {
        const std::vector<ObjectId> inside = targets(id, feature);
        leftOutside(id, feature, name, inside.size());
        start(tag);
        std::vector<Step> steps;
        for (ObjectId target : inside) {
          steps.emplace_back([this, target, owns = feature.owns] {
            if (owns && written_.count(target) == 0) {
              object(target);
            } else {
              start(metaclassTag(store_.classOf(target)));
              attribute("xmi.idref", idOf(target));
              end();
            }
          });
        }
        steps.emplace_back([this] { end(); });
        push(std::move(steps));
        return;
      }
    }
  }

  // Reports the targets of a reference or collection outside the package,
  // which the document leaves out.
  void leftOutside(ObjectId id, const FeatureInfo& feature, const PropertyName& name,
                   std::size_t written) {
    std::size_t held = 0;
    if (feature.kind == FeatureKind::Single || feature.kind == FeatureKind::ReadOnly) {
      held = store_.reference(id, feature.id) != 0 ? 1 : 0;
    } else {
      held = store_.memberCount(id, feature.id);
    }
    if (held > written) {
      report_.leave(std::string("reference ").append(name.owner).append(".").append(name.name),
                    "names an element outside the package", static_cast<int>(held - written));
    }
  }

  // A value inside its property element.
  void value(const StoredValue& stored, const FeatureInfo& feature, ObjectId id, bool standard) {
    const std::string written = valueText(stored, feature, id, standard);
    if (const std::string expression = expressionOf(feature.valueClass); !expression.empty()) {
      start(expressionTag(expression));
      if (uml_ == Uml::V14) {
        attribute("body", written);
      } else {
        element("Foundation.Data_Types.Expression.body", written);
      }
      end();
    } else if (hasLiterals(stored.valueClass) ||
               feature.id == feature::QOVIXAssociationEnd_isOrdered) {
      attribute("xmi.value", written);
    } else {
      text(written);
    }
  }

  // A list of values: UML 1.4's extension points are elements; otherwise
  // one property element per value.
  void values(ObjectId id, const FeatureInfo& feature, const std::string& tag, bool standard) {
    const std::vector<StoredValue> all = store_.values(id, feature.id);
    if (uml_ == Uml::V14 && standard && feature.id == feature::QOVIXUseCase_extensionPoint) {
      start(tag);
      for (std::size_t i = 0; i < all.size(); ++i) {
        start("UML:ExtensionPoint");
        attribute("xmi.id", idOf(id).append(".").append(std::to_string(i + 1)));
        attribute("location", valueText(all[i], feature, id, true));
        end();
      }
      end();
      return;
    }
    for (const StoredValue& each : all) {
      start(tag);
      value(each, feature, id, standard);
      end();
    }
  }

  const PersistentStore& store_;
  const std::vector<ObjectId>& objects_;
  Uml uml_;
  std::unordered_map<ObjectId, std::uint32_t> numbers_;  // a1, a2, ... in document order
  std::unordered_set<ObjectId> written_;
  std::map<std::pair<FeatureId, ClassId>, PropertyName> names_;
  ExportReport& report_;
  const XmlSink& sink_;
  std::size_t drained_ = 0;  // bytes given to the sink
  std::vector<Step> pending_;
  std::size_t depth_ = 0;  // of the element being written
  // The writer flushes into the buffer when it goes, so it goes first.
  std::unique_ptr<xmlBuffer, BufferFree> buffer_;
  std::unique_ptr<xmlTextWriter, TextWriterFree> writer_;
};

}  // namespace

void writeXmi(const PersistentStore& store, const std::vector<ObjectId>& objects, Uml uml,
              ExportReport& report, const XmlSink& sink) {
  Writer(store, objects, uml, report, sink).write();
}

}  // namespace model::xmi
