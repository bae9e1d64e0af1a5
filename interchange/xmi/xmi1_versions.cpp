// What the versions of XMI 1.x and UML 1.x, and the drafts before XMI 1.0,
// write differently: the root and header, UML 1.1's realizations and
// refinements, single actions, multiplicities as text, tags by definition.

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "interchange/xmi/xmi1_reader.h"
#include "model/qovix_srv/operations.h"
#include "utf/utf.h"

namespace model::xmi::xmi1 {

// The root must be <XMI> of a version read.
void Reader::readRoot(const XmlStart& root, const std::string& tag) {
  if (tag != "XMI") fail("is no XMI document: its root is no <XMI>");
  bool versioned = false;
  const std::string version(streamAttribute(root, "xmi.version", &versioned));
  if (versioned && version != "1.0" && version != "1.1" && version != "1.2") {
    failAt(root.line, "is XMI '" + version.substr(0, 20) + "': XMI 1.0, 1.1 and 1.2 are read" +
                          (version.rfind('2', 0) == 0 ? ", and XMI 2.x in the XMI namespace" : ""));
  }
  versioned_ = versioned;
  version_ = versioned ? version : "1.0";
  uml_ = version_ == "1.2" ? "1.4" : "1.3";
  if (!versioned) {
    report_.deviate("<XMI>", "no xmi.version, as the drafts before XMI 1.0: read as XMI 1.0");
  }
}

void Reader::readHeader(const XmlElement* header) {
  for (const XmlElement* item : elementsIn(header)) {
    if (localName(item) == "XMI.metamodel") readMetamodel(item);
    if (localName(item) != "XMI.documentation") continue;
    for (const XmlElement* line : elementsIn(item)) {
      if (localName(line) == "XMI.exporter") report_.exporter = textOf(line) + report_.exporter;
      if (localName(line) == "XMI.exporterVersion")
        report_.exporter.append(" ").append(textOf(line));
    }
  }
}

// The metamodel the header names must be UML; a draft's, a UML the
// catalogue's names are clear for (1.1 to 1.4). The earliest drafts name it
// in `name` and `version`, or as the element's text, or not at all: a
// header that names no metamodel is read as UML's, and said so.
void Reader::readMetamodel(const XmlElement* item) {
  bool given = false;
  std::string named = attribute(item, "xmi.name", &given);
  if (!given) named = attribute(item, "name", &given);
  if (!given) named = textOf(item);
  std::string name = named;
  name.erase(std::remove_if(name.begin(), name.end(),
                            [](unsigned char c) { return std::isspace(c); }),
             name.end());
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (name.empty()) {
    report_.deviate("XMI.metamodel naming no metamodel", "read as UML's, as the drafts wrote it");
  } else if (name != "UML") {
    failAt(item, "is a document of the metamodel '" + named.substr(0, 40) +
                     "': UML models are read");
  }
  std::string version = attribute(item, "xmi.version", &given);
  if (!given) version = attribute(item, "version", &given);
  if (!given) return;
  if (!versioned_ && version != "1.1" && version != "1.3" && version != "1.4") {
    failAt(item, "is a draft XMI document of UML '" + version.substr(0, 20) +
                     "': of the drafts, UML 1.1 to 1.4 are read, whose names are known");
  }
  uml_ = version;
}

// UML 1.3 replaced 1.1's Refinement and Trace, and the realization of a
// classifier, by one Abstraction told apart by its stereotype.
void Reader::decideClasses() {
  std::map<std::size_t, std::set<std::string>> stereotypes;
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].classId != QOVIXStereotype::kClassId) continue;
    for (std::size_t extended : targetsOf(nodes_[i].element, "extendedElement")) {
      stereotypes[extended].insert(nameOf(nodes_[i]));
    }
  }
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    Node& node = nodes_[i];
    if (std::string_view(node.metaclass) != "Abstraction" || node.role != Role::Object) continue;
    std::set<std::string> names = stereotypes[i];
    for (std::size_t stereotype : targetsOf(node.element, "stereotype")) {
      names.insert(nameOf(nodes_[stereotype]));
    }
    if (names.count("realize") != 0) {
      node.role = Role::Realization;
    } else if (names.count("trace") != 0) {
      node.classId = QOVIXTrace::kClassId;
    }
  }
}

// A new ActionSequence of the one action.
ObjectId Reader::inSequence(ObjectId action) {
  const ObjectId sequence = store_.create(QOVIXActionSequence::kClassId);
  ++report_.imported["ActionSequence"];
  store_.appendMember(sequence, feature::QOVIXActionSequence_action, action);
  store_.appendMember(action, feature::QOVIXAction_actionSequence, sequence);
  return sequence;
}

void Reader::linkMultiplicity(const Node& node, const FeatureInfo& info, const std::string& text,
                              const std::string& shown) {
  const ObjectId made = store_.create(QOVIXMultiplicity::kClassId);
  try {
    setMultiplicityText(QOVIXMultiplicity(ObjectRef{&store_, made}),
                        QOVIXString(utf::toUtf16(text)));
  } catch (const std::invalid_argument&) {
    skip(shown, std::string("'").append(text.substr(0, 40)).append("' is no multiplicity"));
    return;  // the empty multiplicity goes with nothing
  }
  ++report_.imported["Multiplicity"];
  if (store_.reference(node.object, info.id) == 0) store_.setReference(node.object, info.id, made);
}

// UML 1.4 names a tagged value's tag by a TagDefinition.
void Reader::tagFromDefinition(std::size_t index, const std::string& text,
                               const XmlElement* property, const std::string& shown) {
  std::vector<std::size_t> definitions;
  if (property == nullptr) {
    if (const auto found = byId_.find(text); found != byId_.end())
      definitions.push_back(found->second);
  } else {
    for (const XmlElement* child : elementsIn(property)) {
      if (const auto target = resolve(child, true)) definitions.push_back(*target);
    }
  }
  for (std::size_t definition : definitions) {
    if (nodes_[definition].role != Role::TagDefinition) continue;
    applyValue(nodes_[index], featureInfo(feature::QOVIXTaggedValue_tag),
               nameOf(nodes_[definition]), shown);
    return;
  }
  skip(shown, "names no TagDefinition of the document");
}

// An Abstraction «realize» between classifiers is UML 1.1's realization.
void Reader::applyRealizations() {
  for (const Node& node : nodes_) {
    if (node.role != Role::Realization) continue;
    bool linked = false;
    for (std::size_t client : targetsOf(node.element, "client")) {
      for (std::size_t supplier : targetsOf(node.element, "supplier")) {
        const Node& from = nodes_[client];
        const Node& to = nodes_[supplier];
        if (from.role != Role::Object || to.role != Role::Object ||
            !conformsTo(from.classId, QOVIXClassifier::kClassId) ||
            !conformsTo(to.classId, QOVIXClassifier::kClassId)) {
          continue;
        }
        store_.appendMember(from.object, feature::QOVIXClassifier_specification, to.object);
        store_.appendMember(to.object, feature::QOVIXClassifier_realization, from.object);
        linked = true;
      }
    }
    if (linked) {
      ++report_.imported["Abstraction «realize» (as Classifier.specification and realization)"];
    } else {
      skip("Abstraction «realize»", "realizes nothing between two classifiers of the document");
    }
  }
}

}  // namespace model::xmi::xmi1
