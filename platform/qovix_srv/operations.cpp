#include "platform/qovix_srv/operations.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "model_classes.h"
#include "platform/qovix_srv/members.h"
#include "platform/qovix_srv/model_metadata.h"
#include "platform/qovix_srv/store_view.h"

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
// features, the one whose element class is nearest above `elementClass`;
// on a tie, the one declared nearest the owner's class. 0 when there is none.
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
    const std::pair<int, int> rank{elementDistance, ownerDistance};
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
  const std::string wanted = lowerFirst(std::string(classInfo(declaredClass).name).substr(5));
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

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
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
  return widen(text);
}

namespace {

std::int32_t parseBound(const std::string& text, bool upper) {
  if (upper && text == "*") return -1;
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    throw std::invalid_argument("'" + text + "' is no multiplicity bound");
  }
  return std::stoi(text);
}

}  // namespace

void setMultiplicityText(const VornPersistentObject& self, const TextValue& text) {
  const ObjectRef ref = named(self);
  std::vector<std::pair<std::int32_t, std::int32_t>> ranges;
  std::string spaced = narrow(text.text());
  std::string all;
  for (char c : spaced) {
    if (c != ' ') all += c;
  }
  std::size_t start = 0;
  while (start <= all.size() && !all.empty()) {
    const std::size_t comma = all.find(',', start);
    const std::string part = all.substr(start, comma - start);
    const std::size_t dots = part.find("..");
    const std::int32_t lower = parseBound(dots == std::string::npos ? part : part.substr(0, dots),
                                          dots == std::string::npos);
    const std::int32_t upper =
        dots == std::string::npos ? lower : parseBound(part.substr(dots + 2), true);
    if (upper >= 0 && (lower < 0 || upper < lower)) {
      throw std::invalid_argument("'" + part + "' is no multiplicity range");
    }
    ranges.emplace_back(lower, upper);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  PersistentStore& store = *ref.store;
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
  for (ObjectId tagged :
       view.related(ref.id, feature::QOVIXModelElement_taggedValue, QOVIXTaggedValue::kClassId,
                    feature::QOVIXTaggedValue_modelElement)) {
    if (view.text(tagged, feature::QOVIXTaggedValue_tag) == tag.text()) {
      return ObjectRef{ref.store, tagged};
    }
  }
  return ObjectRef{};
}

bool isTemplate(const VornPersistentObject& self) {
  return collectionSize(self, feature::QOVIXModelElement_templateParameter) > 0;
}

bool isInstantiated(const VornPersistentObject& self) {
  return collectionSize(self, feature::QOVIXModelElement_binding) > 0;
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

}  // namespace

// The well-formedness rules, each checked when the object is of the class it
// concerns:
//   ModelElement          no two of its tagged values share a tag;
//   Namespace             no two named elements it contains share a name;
//   GeneralizableElement  it is not its own supertype; a root has no
//                         supertype; a leaf has no subtype;
//   Classifier            no two of its features share a name;
//   Association           it connects at least two ends, each with a type;
//   BehavioralFeature     no two of its parameters share a name;
//   Parameter             it belongs to at most one behavioral feature.
bool checkWellFormedness(const VornPersistentObject& self) {
  const ObjectRef ref = named(self);
  const StoreView view(*ref.store);
  const ObjectId id = ref.id;
  if (view.is(id, QOVIXModelElement::kClassId) &&
      namesRepeat(view,
                  view.related(id, feature::QOVIXModelElement_taggedValue,
                               QOVIXTaggedValue::kClassId, feature::QOVIXTaggedValue_modelElement),
                  feature::QOVIXTaggedValue_tag)) {
    return false;
  }
  if (view.is(id, QOVIXNamespace::kClassId) &&
      namesRepeat(view, contents(self, QOVIXNamespace::kClassId), feature::name)) {
    return false;
  }
  if (view.is(id, QOVIXGeneralizableElement::kClassId)) {
    const Ids ancestors = allSupertypes(self, QOVIXGeneralizableElement::kClassId);
    if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) return false;
    if (view.number(id, feature::QOVIXGeneralizableElement_isRoot) != 0 && !ancestors.empty()) {
      return false;
    }
    const bool leaf = view.number(id, feature::QOVIXGeneralizableElement_isLeaf) != 0;
    if (leaf && !view.related(id, feature::QOVIXGeneralizableElement_specialization,
                              QOVIXGeneralization::kClassId, feature::QOVIXGeneralization_supertype)
                     .empty()) {
      return false;
    }
  }
  if (view.is(id, QOVIXClassifier::kClassId) &&
      namesRepeat(view,
                  view.related(id, feature::QOVIXClassifier_feature, QOVIXFeature::kClassId,
                               feature::QOVIXFeature_UMLowner),
                  feature::name)) {
    return false;
  }
  if (view.is(id, QOVIXAssociation::kClassId)) {
    const Ids ends = allConnections(self, QOVIXAssociation::kClassId);
    if (ends.size() < 2) return false;
    for (ObjectId end : ends) {
      if (view.reference(end, feature::QOVIXAssociationEnd_type) == 0) return false;
    }
  }
  if (view.is(id, QOVIXBehavioralFeature::kClassId) &&
      namesRepeat(view, parameter(self, QOVIXBehavioralFeature::kClassId), feature::name)) {
    return false;
  }
  if (view.is(id, QOVIXParameter::kClassId) &&
      view.related(id, feature::QOVIXParameter_behavioralFeature, QOVIXBehavioralFeature::kClassId,
                   feature::QOVIXBehavioralFeature_parameter)
              .size() > 1) {
    return false;
  }
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
