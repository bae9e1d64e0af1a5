#pragma once

// How the catalogue's classes, features and literals are named in XMI
// documents of UML 1.3 (XMI 1.0 and 1.1) and UML 1.4 (XMI 1.2).
//
// The catalogue follows UML 1.1. Most of its names are the later versions'
// names too; its records give the others (`xmi`, `xmi13`, `uml`, `reads`,
// `package`, `later`). A feature UML
// 1.3 and 1.4 do not have is written inside the object's
// <XMI.extension xmi.extender="QOVIX">, where other tools look for no model.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "model/qovix_srv/model_metadata.h"

namespace model::xmi {

// The UML version a document is written for.
enum class Uml { V13, V14 };

// The metaclass name a class is written as (without namespace or package):
// "Class", "ElementImport" for QOVIXElementReference.
std::string metaclassName(ClassId classId);
// The UML 1.3 package path XMI 1.0 writes before a metaclass name:
// "Foundation.Core", "Behavioral_Elements.State_Machines".
std::string packagePath(ClassId classId);

// The class a metaclass name of a document stands for; 0 when the catalogue
// has none. Accepts the catalogue's own names and UML 1.3's and 1.4's.
ClassId classForMetaclass(std::string_view name);

// How a feature is written: OWNER.NAME, and whether UML 1.3/1.4 have it
// (otherwise it goes into the QOVIX extension).
struct PropertyName {
  std::string owner;
  std::string name;
  bool standard;
};
PropertyName propertyName(const FeatureInfo& feature, ClassId objectClass, Uml uml);

// The feature of a `objectClass` object a document's property OWNER.NAME
// stands for (OWNER may be empty); 0 when there is none.
FeatureId featureForProperty(ClassId objectClass, std::string_view owner, std::string_view name);

// An enumeration literal as written ("public", "changeable" for the
// catalogue's ChangeableKind none), and back: the ordinal a document's
// literal stands for, with UML 1.4's prefixes (vk_public) accepted.
bool hasLiterals(ValueClassId valueClass);
std::string literalName(ValueClassId valueClass, int ordinal);
std::optional<int> literalFor(ValueClassId valueClass, std::string_view text);

}  // namespace model::xmi
