#include "model/qovix_srv/operations.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "model_classes.h"
#include "qovix_protocol.h"
#include "model/qovix_srv/deletion.h"
#include "model/qovix_srv/members.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/ownership.h"
#include "model/qovix_srv/store_view.h"
#include "utf/utf.h"

namespace model {
namespace {

// How far `ancestor` is above `classId` (0 for the class itself), or -1 when
// `classId` does not conform to it.
int distance(ClassId classId, ClassId ancestor) {
  if (classId == ancestor) return 0;
  int best = -1;
  for (ClassId parent : classInfo(classId).superclasses) {
    const int above = distance(parent, ancestor);
    if (above >= 0 && (best < 0 || above + 1 < best)) best = above + 1;
  }
  return best;
}

// The feature of an `ownerClass` object (declared by the class or an
// ancestor) that contains objects of `elementClass`: among the composite
// features, the one declared nearest the owner's class; on a tie, the one
// whose element class is nearest above `elementClass`. So a namespace given
// a state machine holds it among its owned elements, not as its behavior,
// which every model element has. 0 when there is none.
FeatureId containingFeature(ClassId ownerClass, ClassId elementClass) {
  static std::map<std::pair<ClassId, ClassId>, FeatureId> found;
  const auto key = std::make_pair(ownerClass, elementClass);
  if (const auto cached = found.find(key); cached != found.end()) return cached->second;
  FeatureId best = 0;
  std::pair<int, int> bestRank;
  for (const FeatureInfo& feature : modelFeatures()) {
    if (!feature.owns) continue;
    const int ownerDistance = distance(ownerClass, feature.owner);
    const int elementDistance = distance(elementClass, feature.elementClass);
    if (ownerDistance < 0 || elementDistance < 0) continue;
    const std::pair<int, int> rank{ownerDistance, elementDistance};
    if (best == 0 || rank < bestRank) {
      best = feature.id;
      bestRank = rank;
    }
  }
  return found[key] = best;
}

std::string lowerFirst(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// The single reference of a `classId` object named after `declaredClass`
// ("package" for QOVIXPackage) that can hold it; 0 when there is none.
FeatureId backReference(ClassId classId, ClassId declaredClass) {
  const std::string wanted = lowerFirst(classInfo(declaredClass).shortName);
  for (const FeatureInfo& feature : modelFeatures()) {
    if (feature.kind != FeatureKind::Single || feature.owner == 0) continue;
    if (wanted == feature.name && conformsTo(classId, feature.owner) &&
        conformsTo(declaredClass, feature.elementClass)) {
      return feature.id;
    }
  }
  return 0;
}

// The attribute a constructor value goes to: the first of the class's own
// attributes (or hidden slots) of the value's class not yet given one.
FeatureId attributeFor(ClassId classId, ValueClassId valueClass, const std::set<FeatureId>& given) {
  for (const FeatureInfo& feature : modelFeatures()) {
    const bool attribute = feature.kind == FeatureKind::Attribute ||
                           (feature.kind == FeatureKind::Hidden && feature.owner != 0);
    if (attribute && feature.valueClass == valueClass && feature.owner != 0 &&
        conformsTo(classId, feature.owner) && given.count(feature.id) == 0) {
      return feature.id;
    }
  }
  return 0;
}

void placeIn(PersistentStore& store, ObjectId owner, FeatureId feature, ObjectId element) {
  if (featureInfo(feature).kind == FeatureKind::Single) {
    store.setReference(owner, feature, element);
  } else {
    store.appendMember(owner, feature, element);
  }
}

}  // namespace

// construct(...): the first QOVIXName is the object's name (and, for a class
// that is no model element and declares a QOVIXName attribute of its own,
// that attribute's value too); every other value goes to the first attribute
// of its class; each owner's feature that holds such objects gains the new
// object, and the object's single reference named after the owner's class
// (ElementReference.package, TaggedValue.modelElement) is set to the owner.
void construct(const VornPersistentObject& self, ClassId classId,
               std::initializer_list<Owner> owners,
               std::initializer_list<const VornDataType*> values) {
  const ObjectRef ref = named(self);
  PersistentStore& store = *ref.store;
  std::set<FeatureId> given;
  bool named = false;
  for (const VornDataType* value : values) {
    if (!named && value->datatypeId() == QOVIXName::kValueClassId) {
      named = true;
      store.setValue(ref.id, feature::name, toStored(*value));
      if (!conformsTo(classId, QOVIXModelElement::kClassId)) {
        if (const FeatureId own = attributeFor(classId, QOVIXName::kValueClassId, given)) {
          store.setValue(ref.id, own, toStored(*value));
          given.insert(own);
        }
      }
      continue;
    }
    if (const FeatureId target = attributeFor(classId, value->datatypeId(), given)) {
      store.setValue(ref.id, target, toStored(*value));
      given.insert(target);
    }
  }
  for (const Owner& owner : owners) {
    const ObjectId ownerId = memberOf(self, *owner.object);
    if (const FeatureId holding = containingFeature(owner.declaredClass, classId)) {
      placeIn(store, ownerId, holding, ref.id);
    }
    if (const FeatureId back = backReference(classId, owner.declaredClass)) {
      store.setReference(ref.id, back, ownerId);
    }
  }
}

std::u16string multiplicityText(const VornPersistentObject& self) {
  const ObjectRef ref = named(self);
  const StoreView view(*ref.store);
  std::string text;
  for (ObjectId range : view.members(ref.id, feature::QOVIXMultiplicity_ranges)) {
    const std::int32_t lower = view.number(range, feature::QOVIXMultiplicityRange_lower);
    const std::int32_t upper = view.number(range, feature::QOVIXMultiplicityRange_upper);
    if (!text.empty()) text += ",";
    const std::string upperText = upper < 0 ? "*" : std::to_string(upper);
    text += lower == upper ? upperText : std::to_string(lower) + ".." + upperText;
  }
  return utf::toUtf16(text);
}

namespace {

// One range of a multiplicity's text, by the protocol's pattern, which the
// clients judge by too: (lower, upper), -1 for '*'.
std::pair<std::int32_t, std::int32_t> parseRange(const std::string& part) {
  static const std::regex pattern(qovix::protocol::kMultiplicityRange);
  std::smatch bounds;
  if (!std::regex_match(part, bounds, pattern)) {
    throw std::invalid_argument("'" + part +
                                "' is no multiplicity bound or range: write 1, 0..*, 1..3,5");
  }
  if (!bounds[1].matched) return {-1, -1};  // '*'
  const std::int32_t lower = std::stoi(bounds[1].str());
  if (!bounds[3].matched) return {lower, lower};
  const std::int32_t upper = bounds[3].str() == "*" ? -1 : std::stoi(bounds[3].str());
  if (upper >= 0 && upper < lower) {
    throw std::invalid_argument("'" + part + "' is no multiplicity range: its upper bound is "
                                "below its lower");
  }
  return {lower, upper};
}

}  // namespace

void setMultiplicityText(const VornPersistentObject& self, const TextValue& text) {
  const ObjectRef ref = named(self);
  std::vector<std::pair<std::int32_t, std::int32_t>> ranges;
  std::string spaced = utf::toUtf8(text.text());
  std::string all;
  for (char c : spaced) {
    if (c != ' ') all += c;
  }
  std::size_t start = 0;
  while (start <= all.size() && !all.empty()) {
    const std::size_t comma = all.find(',', start);
    ranges.push_back(parseRange(all.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  PersistentStore& store = *ref.store;
  // The multiplicity owns its ranges: the old ones go with their place.
  const std::vector<ObjectId> old =
      StoreView(store).members(ref.id, feature::QOVIXMultiplicity_ranges);
  model::deleteObjects(store, old);
  store.clearMembers(ref.id, feature::QOVIXMultiplicity_ranges);
  for (const auto& [lower, upper] : ranges) {
    const ObjectId range = store.create(QOVIXMultiplicityRange::kClassId);
    store.setValue(range, feature::QOVIXMultiplicityRange_lower,
                   StoredValue{QOVIXInteger::kValueClassId, lower, {}});
    store.setValue(range, feature::QOVIXMultiplicityRange_upper,
                   StoredValue{QOVIXInteger::kValueClassId, upper, {}});
    store.setReference(range, feature::QOVIXMultiplicityRange_multiplicity, ref.id);
    store.appendMember(ref.id, feature::QOVIXMultiplicity_ranges, range);
  }
}

std::u16string label(const VornPersistentObject& self) {
  const ObjectRef ref = named(self);
  const StoreView view(*ref.store);
  if (view.is(ref.id, QOVIXTaggedValue::kClassId)) {
    const std::u16string tag = view.text(ref.id, feature::QOVIXTaggedValue_tag);
    const std::u16string value = view.text(ref.id, feature::QOVIXTaggedValue_umlValue);
    return value.empty() ? tag : tag + u" = " + value;
  }
  if (view.is(ref.id, QOVIXEnumerationLiteral::kClassId)) {
    return view.text(ref.id, feature::QOVIXEnumerationLiteral_name);
  }
  if (view.is(ref.id, QOVIXElementReference::kClassId)) {
    const std::u16string alias = view.text(ref.id, feature::QOVIXElementReference_alias);
    if (!alias.empty()) return alias;
    const ObjectId element = view.reference(ref.id, feature::QOVIXElementReference_modelElement);
    return element != 0 ? view.text(element, feature::name) : std::u16string();
  }
  return view.text(ref.id, feature::name);
}

ObjectId firstMemberId(const VornPersistentObject& self, FeatureId feature) {
  const ObjectRef ref = named(self);
  return ref.store->memberCount(ref.id, feature) > 0 ? ref.store->memberAt(ref.id, feature, 0) : 0;
}

ObjectRef taggedValueNamed(const VornPersistentObject& self, const TextValue& tag) {
  const ObjectRef ref = named(self);
  const StoreView view(*ref.store);
  for (ObjectId tagged : view.related(ref.id, feature::QOVIXModelElement_taggedValue)) {
    if (view.text(tagged, feature::QOVIXTaggedValue_tag) == tag.text()) {
      return ObjectRef{ref.store, tagged};
    }
  }
  return ObjectRef{};
}

// UML 1.4 §2.5.3, ModelElement: isTemplate = self.templateParameter->notEmpty
bool isTemplate(const VornPersistentObject& self) {
  return collectionSize(self, feature::QOVIXModelElement_templateParameter) > 0;
}

namespace {

// Names that occur twice among `ids` (empty names do not count).
bool namesRepeat(const StoreView& view, const std::vector<ObjectId>& ids, FeatureId nameFeature) {
  std::set<std::u16string> names;
  for (ObjectId id : ids) {
    const std::u16string name = view.text(id, nameFeature);
    if (!name.empty() && !names.insert(name).second) return true;
  }
  return false;
}

// QOVIXAggregationKind's none, by ordinal.
constexpr std::int32_t kNoAggregation = 0;

void addNames(const StoreView& view, const Ids& ids, std::set<std::u16string>& names) {
  for (ObjectId id : ids) {
    if (const std::u16string name = view.text(id, feature::name); !name.empty()) names.insert(name);
  }
}

Ids excluding(const StoreView& view, const Ids& ids, ClassId classId) {
  Ids kept;
  for (ObjectId id : ids) {
    if (!view.is(id, classId)) kept.push_back(id);
  }
  return kept;
}

// Another object of the store `self` lives in, for the operations that take one.
ObjectRef refOf(const VornPersistentObject& self, ObjectId id) {
  return ObjectRef{self.store(), id};
}

// What hasSameSignature compares: the name, and each parameter's direction
// and type in order. Two features have the same signature when these are
// equal, so features are matched by sorting or hashing these, not pairwise.
using Signature = std::pair<std::u16string, std::vector<std::pair<std::int32_t, ObjectId>>>;

Signature signatureOf(const StoreView& view, ObjectId feature) {
  Signature signature{view.text(feature, feature::name), {}};
  for (ObjectId each : view.members(feature, feature::QOVIXBehavioralFeature_parameter)) {
    signature.second.emplace_back(view.number(each, feature::QOVIXParameter_kind),
                                  view.reference(each, feature::QOVIXParameter_type));
  }
  return signature;
}

// Whether `target` is in (the allContents of) a namespace of `element`; an
// element no namespace owns is not judged.
bool inNamespaceOf(const StoreView& view, const VornPersistentObject& self, ObjectId element,
                   ObjectId target) {
  const Ids owners = view.related(element, feature::QOVIXModelElement_namespace1);
  if (owners.empty() || target == 0) return true;
  for (ObjectId owner : owners) {
    if (target == owner || allContentsHold(QOVIXNamespace(refOf(self, owner)), target)) return true;
  }
  return false;
}

// UML 1.4 §2.5.3, Namespace [1], [2]: the named elements it owns, other
// than associations and generalizations, have distinct names; associations
// a distinct name and participants. (What a package imports is judged by its
// own rule, under its alias; what a classifier inherits it may hide.)
bool namespaceIsWellFormed(const StoreView& view, const VornPersistentObject& self, ObjectId id) {
  const Ids held = view.related(id, feature::QOVIXNamespace_ownedElement);
  const Ids plain = excluding(view, excluding(view, held, QOVIXAssociation::kClassId),
                              QOVIXGeneralization::kClassId);
  if (namesRepeat(view, plain, feature::name)) return false;
  std::set<std::pair<std::u16string, Ids>> associations;
  for (ObjectId each : held) {
    if (!view.is(each, QOVIXAssociation::kClassId)) continue;
    Ids participants;
    const QOVIXAssociation association(refOf(self, each));
    for (ObjectId end : allConnections(association, QOVIXAssociation::kClassId)) {
      participants.push_back(view.reference(end, feature::QOVIXAssociationEnd_type));
    }
    if (!associations.emplace(view.text(each, feature::name), participants).second) return false;
  }
  return true;
}

// §2.5.3, GeneralizableElement [1]-[4]: not its own parent; a root has no
// parent; no parent is a leaf; each parent is in its namespace.
bool generalizableIsWellFormed(const StoreView& view, const VornPersistentObject& self,
                               ObjectId id) {
  const Ids ancestors = allSupertypes(self, QOVIXGeneralizableElement::kClassId);
  if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) return false;
  if (view.number(id, feature::QOVIXGeneralizableElement_isRoot) != 0 && !ancestors.empty()) {
    return false;
  }
  for (ObjectId parent : supertype(self, QOVIXGeneralizableElement::kClassId)) {
    if (view.number(parent, feature::QOVIXGeneralizableElement_isLeaf) != 0) return false;
    if (!inNamespaceOf(view, self, id, parent)) return false;
  }
  return true;
}

// §2.5.3, Classifier [1]-[5]: no two behavioral features of one kind with
// one signature; attributes, opposite ends and contained elements do not
// share names (unnamed ones aside).
bool classifierIsWellFormed(const StoreView& view, const VornPersistentObject& self, ObjectId id) {
  const Ids features = view.related(id, feature::QOVIXClassifier_feature);
  std::set<std::pair<ClassId, Signature>> signatures;
  for (ObjectId each : features) {
    if (!view.is(each, QOVIXBehavioralFeature::kClassId)) continue;
    if (!signatures.emplace(view.classOf(each), signatureOf(view, each)).second) return false;
  }
  Ids attributes;
  for (ObjectId each : features) {
    if (view.is(each, QOVIXAttribute::kClassId)) attributes.push_back(each);
  }
  const Ids opposite = oppositeAssociationEnds(self, QOVIXClassifier::kClassId);
  if (namesRepeat(view, attributes, feature::name) || namesRepeat(view, opposite, feature::name)) {
    return false;
  }
  std::set<std::u16string> contained;
  addNames(view, allContents(self, QOVIXClassifier::kClassId), contained);
  std::set<std::u16string> attributeNames;
  addNames(view, allAttributes(self, QOVIXClassifier::kClassId), attributeNames);
  for (ObjectId end : opposite) {
    const std::u16string name = view.text(end, feature::name);
    if (!name.empty() && (contained.count(name) != 0 || attributeNames.count(name) != 0))
      return false;
  }
  for (ObjectId attribute : attributes) {
    if (contained.count(view.text(attribute, feature::name)) != 0) return false;
  }
  return true;
}

// §2.5.3, Association [1]-[4], and UML 1.1's two typed ends: ends with
// distinct names, at most one aggregate end and none among three or more,
// each participant in the association's namespace.
bool associationIsWellFormed(const StoreView& view, const VornPersistentObject& self, ObjectId id) {
  const Ids ends = allConnections(self, QOVIXAssociation::kClassId);
  if (ends.size() < 2 || namesRepeat(view, ends, feature::name)) return false;
  std::size_t aggregate = 0;
  for (ObjectId end : ends) {
    const ObjectId type = view.reference(end, feature::QOVIXAssociationEnd_type);
    if (type == 0 || !inNamespaceOf(view, self, id, type)) return false;
    if (view.number(end, feature::QOVIXAssociationEnd_aggregation) != kNoAggregation) ++aggregate;
  }
  return aggregate == 0 || (aggregate == 1 && ends.size() == 2);
}

// §2.5.3, BehavioralFeature [1], [2]: parameters with distinct names, each
// type in the namespace of the feature's owner.
bool behavioralIsWellFormed(const StoreView& view, const VornPersistentObject& self, ObjectId id) {
  const Ids parameters = parameter(self, QOVIXBehavioralFeature::kClassId);
  if (namesRepeat(view, parameters, feature::name)) return false;
  for (ObjectId owner : view.related(id, feature::QOVIXFeature_UMLowner)) {
    for (ObjectId each : parameters) {
      if (!inNamespaceOf(view, self, owner, view.reference(each, feature::QOVIXParameter_type))) {
        return false;
      }
    }
  }
  return true;
}

// §2.5.3, AssociationClass [1], [2]: its ends' and structural features'
// names differ, and it is at none of its own ends.
bool associationClassIsWellFormed(const StoreView& view, const VornPersistentObject& self,
                                  ObjectId id) {
  std::set<std::u16string> featureNames;
  for (ObjectId each : allFeatures(self, QOVIXClassifier::kClassId)) {
    if (view.is(each, QOVIXStructuralFeature::kClassId)) addNames(view, {each}, featureNames);
  }
  for (ObjectId end : allConnections(self, QOVIXAssociation::kClassId)) {
    if (view.reference(end, feature::QOVIXAssociationEnd_type) == id) return false;
    if (featureNames.count(view.text(end, feature::name)) != 0) return false;
  }
  return true;
}

// §2.14.3, Package [1], [2]: what it imports (associations aside) has a
// name, or alias, that nothing it owns or inherits has, and no other import.
bool packageIsWellFormed(const StoreView& view, const VornPersistentObject& self, ObjectId id) {
  const Ids referenced = referencedElement(self, QOVIXPackage::kClassId);
  const std::unordered_set<ObjectId> imported(referenced.begin(), referenced.end());
  std::set<std::u16string> owned;
  for (ObjectId each : allContents(self, QOVIXPackage::kClassId)) {
    if (imported.count(each) == 0 && !view.is(each, QOVIXAssociation::kClassId)) {
      addNames(view, {each}, owned);
    }
  }
  std::set<std::u16string> importedNames;
  for (ObjectId reference : view.related(id, feature::QOVIXPackage_modelElementReference)) {
    const ObjectId element = view.reference(reference, feature::QOVIXElementReference_modelElement);
    if (element == 0 || view.is(element, QOVIXAssociation::kClassId)) continue;
    std::u16string name = view.text(reference, feature::QOVIXElementReference_alias);
    if (name.empty()) name = view.text(element, feature::name);
    if (name.empty()) continue;
    if (owned.count(name) != 0 || !importedNames.insert(name).second) return false;
  }
  return true;
}

// UML 1.4 §2.14.3, Subsystem [1]: each operation of an interface the
// subsystem realizes (UML 1.1's specification) is matched by an operation of
// the subsystem or of a classifier it contains.
bool subsystemIsWellFormed(const StoreView& view, const VornPersistentObject& self, ObjectId id) {
  Ids offered;
  for (ObjectId specifier : view.related(id, feature::QOVIXClassifier_specification)) {
    if (!view.is(specifier, QOVIXInterface::kClassId)) continue;
    const Ids operations =
        allOperations(QOVIXClassifier(refOf(self, specifier)), QOVIXClassifier::kClassId);
    offered.insert(offered.end(), operations.begin(), operations.end());
  }
  if (offered.empty()) return true;
  Ids candidates = allOperations(self, QOVIXClassifier::kClassId);
  for (ObjectId each : allContents(self, QOVIXPackage::kClassId)) {
    if (!view.is(each, QOVIXClassifier::kClassId)) continue;
    const Ids operations =
        allOperations(QOVIXClassifier(refOf(self, each)), QOVIXClassifier::kClassId);
    candidates.insert(candidates.end(), operations.begin(), operations.end());
  }
  std::set<Signature> matching;
  for (ObjectId candidate : candidates) matching.insert(signatureOf(view, candidate));
  return std::all_of(offered.begin(), offered.end(), [&](ObjectId operation) {
    return matching.count(signatureOf(view, operation)) != 0;
  });
}

}  // namespace

// The well-formedness rules of the public UML 1.4 specification that the
// catalogue's classes can express (chapter 2, each package's
// "Well-Formedness Rules"), each checked when the object is of the class it
// concerns. Names compare only when given: unnamed ends and elements do
// not clash.
//   ModelElement          no two of its tagged values share a tag, and it is
//                         not among its own owners (an ownership circle);
//   Namespace             see namespaceIsWellFormed;
//   GeneralizableElement  see generalizableIsWellFormed;
//   Classifier            see classifierIsWellFormed;
//   Association           see associationIsWellFormed;
//   AssociationClass      see associationClassIsWellFormed;
//   BehavioralFeature     see behavioralIsWellFormed;
//   Parameter             it belongs to at most one behavioral feature;
//   Package, Subsystem    see packageIsWellFormed, subsystemIsWellFormed.
bool checkWellFormedness(const VornPersistentObject& self) {
  const ObjectRef ref = named(self);
  const StoreView view(*ref.store);
  const ObjectId id = ref.id;
  if (view.is(id, QOVIXModelElement::kClassId) &&
      (namesRepeat(view, view.related(id, feature::QOVIXModelElement_taggedValue),
                   feature::QOVIXTaggedValue_tag) ||
       ownersAbove(*ref.store, id).count(id) != 0)) {
    return false;
  }
  if (view.is(id, QOVIXNamespace::kClassId) && !namespaceIsWellFormed(view, self, id)) {
    return false;
  }
  if (view.is(id, QOVIXGeneralizableElement::kClassId) &&
      !generalizableIsWellFormed(view, self, id)) {
    return false;
  }
  if (view.is(id, QOVIXClassifier::kClassId) && !classifierIsWellFormed(view, self, id))
    return false;
  if (view.is(id, QOVIXAssociation::kClassId) && !associationIsWellFormed(view, self, id))
    return false;
  if (view.is(id, QOVIXAssociationClass::kClassId) &&
      !associationClassIsWellFormed(view, self, id)) {
    return false;
  }
  if (view.is(id, QOVIXBehavioralFeature::kClassId) && !behavioralIsWellFormed(view, self, id)) {
    return false;
  }
  if (view.is(id, QOVIXParameter::kClassId) &&
      view.related(id, feature::QOVIXParameter_behavioralFeature).size() > 1) {
    return false;
  }
  if (view.is(id, QOVIXPackage::kClassId) && !packageIsWellFormed(view, self, id)) return false;
  if (view.is(id, QOVIXSubsystem::kClassId) && !subsystemIsWellFormed(view, self, id)) return false;
  return true;
}

// Same name, and parameters alike one for one: same direction, same type.
bool hasSameSignature(const VornPersistentObject& self, const VornPersistentObject& other) {
  const ObjectRef ref = named(self);
  const ObjectId otherId = memberOf(self, other);
  const StoreView view(*ref.store);
  if (view.text(ref.id, feature::name) != view.text(otherId, feature::name)) return false;
  const Ids mine = view.members(ref.id, feature::QOVIXBehavioralFeature_parameter);
  const Ids theirs = view.members(otherId, feature::QOVIXBehavioralFeature_parameter);
  if (mine.size() != theirs.size()) return false;
  for (std::size_t i = 0; i < mine.size(); ++i) {
    if (view.number(mine[i], feature::QOVIXParameter_kind) !=
            view.number(theirs[i], feature::QOVIXParameter_kind) ||
        view.reference(mine[i], feature::QOVIXParameter_type) !=
            view.reference(theirs[i], feature::QOVIXParameter_type)) {
      return false;
    }
  }
  return true;
}

}  // namespace model
