#pragma once

// The served model as rows the model library consults at run time: each
// class with its superclasses and features, each feature with its kind and
// its element or value class. Generated from the catalogue.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/qovix_srv/qovix_srv_api.h"
#include "store/vorn_types.h"

enum class FeatureKind { Attribute, Single, ReadOnly, Set, List, Array, Values, Hidden };

struct FeatureInfo {
  FeatureId id;
  ClassId owner;  // the declaring class; 0 for the hidden slots every class shares
  const char* name;
  FeatureKind kind;
  ClassId elementClass;     // references and collections
  ValueClassId valueClass;  // attributes, value lists, hidden slots
  bool owns;                // the object contains what the feature holds
  FeatureId opposite;       // the association's other end; 0 for none
  // How UML 1.3 and 1.4 documents name it: under its own name (standard),
  // or as OWNER.NAME (UML 1.4's, and UML 1.3's where it differs); neither:
  // only the QOVIX extension has it.
  bool xmiStandard;
  const char* xmi14;  // "" for none
  const char* xmi13;  // "" when UML 1.3 writes UML 1.4's name
  // How many ends the object needs in this feature (read from both ends of
  // the association): a delete that leaves fewer deletes the object too.
  // 0 for none.
  std::uint32_t needs;
};

struct ClassInfo {
  ClassId id;
  const char* name;       // "QOVIXClass"
  const char* shortName;  // "Class": the name without the catalogue's prefix, as people read it
  std::span<const ClassId> superclasses;
  std::span<const FeatureId> features;  // declared, in catalogue order
  const char* xmiName;     // the metaclass name UML 1.3 and 1.4 give it
  const char* xmiPackage;  // its UML 1.3 package, which XMI 1.0 writes before it
};

// Other names documents write: a metaclass read as a class, a property
// read as a feature (OWNER.NAME), and literals written or read under other
// names than the catalogue's.
struct XmiReading {
  const char* written;
  std::uint32_t ours;  // the ClassId or FeatureId
};
struct XmiLiteral {
  ValueClassId valueClass;
  const char* ours;
  const char* written;
};

QOVIX_SRV_API std::span<const ClassInfo> modelClasses();
QOVIX_SRV_API std::span<const FeatureInfo> modelFeatures();
QOVIX_SRV_API std::span<const XmiReading> xmiMetaclassReadings();
QOVIX_SRV_API std::span<const XmiReading> xmiPropertyReadings();
QOVIX_SRV_API std::span<const XmiLiteral> xmiLaterLiterals();
QOVIX_SRV_API std::span<const XmiLiteral> xmiLiteralReadings();
// Throw std::out_of_range for an unknown id.
QOVIX_SRV_API const ClassInfo& classInfo(ClassId id);
QOVIX_SRV_API const FeatureInfo& featureInfo(FeatureId id);
// How the model names a feature's slot: "QOVIXModelElement.namespace1", and
// "*.name" for a hidden slot every class shares. Throws as featureInfo.
QOVIX_SRV_API std::string slotName(FeatureId id);

// Whether an object of class `actual` is also a `wanted`: the same class or
// one of its descendants.
QOVIX_SRV_API bool conformsTo(ClassId actual, ClassId wanted);
// `wanted` and every class that conforms to it, in class-number order.
QOVIX_SRV_API const std::vector<ClassId>& conformingClasses(ClassId wanted);
// The attribute (or hidden slot) named `name` that a `classId` object has,
// declared by the class or an ancestor; 0 when there is none.
QOVIX_SRV_API FeatureId attributeNamed(ClassId classId, std::string_view name);
