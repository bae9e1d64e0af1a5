#include "interchange/xmi/xmi_names.h"

#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "model_classes.h"

// Every name here comes from the catalogue's records (the model's metadata):
// the generator checks them, so a document meets no name that is not the
// catalogue's.

namespace model::xmi {
namespace {

std::pair<std::string, std::string> split(std::string_view qualified) {
  const std::size_t dot = qualified.rfind('.');
  return {std::string(qualified.substr(0, dot)), std::string(qualified.substr(dot + 1))};
}

// The literals of an enumeration class, from its default value; none for
// other classes.
const std::vector<std::string>& literalsOf(ValueClassId valueClass) {
  static std::map<ValueClassId, std::vector<std::string>> known;
  if (const auto found = known.find(valueClass); found != known.end()) return found->second;
  std::vector<std::string> names;
  if (const ValueClassInfo* info = valueClassInfo(valueClass); info != nullptr) {
    const std::unique_ptr<VornDataType> value(info->makeDefault());
    if (!value) throw std::bad_alloc();
    if (const auto* enumeration = dynamic_cast<const VornEnumeration*>(value.get())) {
      names.assign(enumeration->literals().begin(), enumeration->literals().end());
    }
  }
  return known[valueClass] = std::move(names);
}

// The literal names UML 1.3 and 1.4 write where the catalogue's differ.
std::string laterLiteral(ValueClassId valueClass, const std::string& ours) {
  for (const XmiLiteral& each : xmiLaterLiterals()) {
    if (each.valueClass == valueClass && ours == each.ours) return each.written;
  }
  return ours;
}

// A feature's names in documents: each written name with the UML version
// that writes it.
std::vector<std::string_view> writtenNames(const FeatureInfo& feature) {
  std::vector<std::string_view> names;
  for (const char* name : {feature.xmi14, feature.xmi13}) {
    if (*name != '\0') names.emplace_back(name);
  }
  return names;
}

}  // namespace

std::string metaclassName(ClassId classId) { return classInfo(classId).xmiName; }

std::string packagePath(ClassId classId) { return classInfo(classId).xmiPackage; }

ClassId classForMetaclass(std::string_view name) {
  static const std::map<std::string, ClassId, std::less<>> byName = [] {
    std::map<std::string, ClassId, std::less<>> made;
    for (const ClassInfo& info : modelClasses()) {
      made[info.shortName] = info.id;
      made[info.xmiName] = info.id;
    }
    for (const XmiReading& each : xmiMetaclassReadings()) made[each.written] = each.ours;
    return made;
  }();
  const auto found = byName.find(name);
  return found == byName.end() ? 0 : found->second;
}

PropertyName propertyName(const FeatureInfo& feature, ClassId objectClass, Uml uml) {
  // Only model elements have a name in UML 1.3 and 1.4: the slot every
  // object has is the extension's for the others.
  if (feature.owner == 0 && !conformsTo(objectClass, QOVIXModelElement::kClassId)) {
    return {"Element", feature.name, false};
  }
  // A feature's visibility is the feature's own: its ownership's goes to the
  // extension, since later versions have only one.
  const bool ownershipOfFeature =
      feature.id == feature::QOVIXModelElement_elemOwnershipVisibility &&
      conformsTo(objectClass, QOVIXFeature::kClassId);
  if (*feature.xmi14 != '\0' && !ownershipOfFeature) {
    auto [owner, name] =
        split(uml == Uml::V13 && *feature.xmi13 != '\0' ? feature.xmi13 : feature.xmi14);
    return {owner, name, true};
  }
  return {metaclassName(feature.owner), feature.name, feature.xmiStandard};
}

namespace {

// Whether a name written `written` (METACLASS.NAME) for the feature `ours`
// applies to an object of `objectClass`.
bool applies(ClassId objectClass, std::string_view written, const FeatureInfo& ours) {
  const ClassId writtenOwner = classForMetaclass(split(written).first);
  return (writtenOwner == 0 || conformsTo(objectClass, writtenOwner)) &&
         (ours.owner == 0 || conformsTo(objectClass, ours.owner));
}

FeatureId declaredFeature(ClassId objectClass, std::string_view name) {
  for (const FeatureInfo& feature : modelFeatures()) {
    if (feature.owner != 0 && feature.name == name && conformsTo(objectClass, feature.owner)) {
      return feature.id;
    }
  }
  return 0;
}

}  // namespace

FeatureId featureForProperty(ClassId objectClass, std::string_view owner, std::string_view name) {
  const std::string qualified = std::string(owner).append(".").append(name);
  auto renamed = [&](bool byName) -> FeatureId {
    const auto matches = [&](std::string_view written) {
      return byName ? split(written).second == name : qualified == written;
    };
    for (const XmiReading& each : xmiPropertyReadings()) {
      const FeatureInfo& ours = featureInfo(each.ours);
      if (matches(each.written) && applies(objectClass, each.written, ours)) return ours.id;
    }
    // Where two features are written alike (a feature's visibility and an
    // element's ownership visibility), the one of the more specific class.
    const FeatureInfo* chosen = nullptr;
    for (const FeatureInfo& feature : modelFeatures()) {
      for (std::string_view written : writtenNames(feature)) {
        if (!matches(written) || !applies(objectClass, written, feature)) continue;
        if (chosen == nullptr ||
            (feature.owner != 0 &&
             (chosen->owner == 0 || conformsTo(feature.owner, chosen->owner)))) {
          chosen = &feature;
        }
      }
    }
    return chosen != nullptr ? chosen->id : 0;
  };
  if (!owner.empty()) {
    if (const FeatureId found = renamed(false)) return found;
    // The catalogue's own names, as the QOVIX extension writes them.
    const ClassId ownerClass =
        owner == "Element" ? QOVIXElement::kClassId : classForMetaclass(owner);
    if (ownerClass != 0 && conformsTo(objectClass, ownerClass)) {
      for (const FeatureInfo& feature : modelFeatures()) {
        const bool owned = feature.owner == 0 ? owner == "Element" : feature.owner == ownerClass;
        if (owned && feature.name == name) return feature.id;
      }
    }
  }
  if (const FeatureId declared = declaredFeature(objectClass, name)) return declared;
  if (const FeatureId found = renamed(true)) return found;
  return attributeNamed(objectClass, name);
}

bool hasLiterals(ValueClassId valueClass) { return !literalsOf(valueClass).empty(); }

std::string literalName(ValueClassId valueClass, int ordinal) {
  const std::vector<std::string>& literals = literalsOf(valueClass);
  if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= literals.size()) {
    throw std::out_of_range("no literal " + std::to_string(ordinal));
  }
  return laterLiteral(valueClass, literals[static_cast<std::size_t>(ordinal)]);
}

std::optional<int> literalFor(ValueClassId valueClass, std::string_view text) {
  const std::vector<std::string>& literals = literalsOf(valueClass);
  // UML 1.4's metamodel prefixes its literals with the kind's initials.
  const std::size_t underscore = text.find('_');
  const std::string_view bare =
      underscore != std::string_view::npos && underscore <= 3 ? text.substr(underscore + 1) : text;
  for (std::size_t i = 0; i < literals.size(); ++i) {
    const std::string& ours = literals[i];
    if (bare == ours || bare == laterLiteral(valueClass, ours)) return static_cast<int>(i);
  }
  // Literals of UML 1.3 and 1.4 read as one of the catalogue's (UML 1.3's
  // junction and choice are 1.1's branch).
  for (const XmiLiteral& each : xmiLiteralReadings()) {
    if (each.valueClass == valueClass && bare == each.written) {
      return literalFor(valueClass, each.ours);
    }
  }
  return std::nullopt;
}

}  // namespace model::xmi
