#include "model/qovix_srv/model_metadata.h"

#include <stdexcept>
#include <string>
#include <vector>

const ClassInfo& classInfo(ClassId id) {
  const auto classes = modelClasses();
  if (id < 1 || id > classes.size()) throw std::out_of_range("no class " + std::to_string(id));
  return classes[id - 1];
}

const FeatureInfo& featureInfo(FeatureId id) {
  const auto features = modelFeatures();
  if (id < 1 || id > features.size()) throw std::out_of_range("no feature " + std::to_string(id));
  return features[id - 1];
}

std::string slotName(FeatureId id) {
  const FeatureInfo& feature = featureInfo(id);
  return std::string(feature.owner != 0 ? classInfo(feature.owner).name : "*")
      .append(".")
      .append(feature.name);
}

namespace {

// Whether `actual` is `wanted` or inherits from it, by walking up.
bool inherits(ClassId actual, ClassId wanted) {
  if (actual == wanted) return true;
  for (ClassId parent : classInfo(actual).superclasses) {
    if (inherits(parent, wanted)) return true;
  }
  return false;
}

}  // namespace

// Asked for every feature of every object a walk meets: a table, made once.
bool conformsTo(ClassId actual, ClassId wanted) {
  static const std::size_t count = modelClasses().size();
  static const std::vector<bool> table = [] {
    std::vector<bool> made((count + 1) * (count + 1));
    for (ClassId from = 1; from <= count; ++from) {
      for (ClassId to = 1; to <= count; ++to) made[from * (count + 1) + to] = inherits(from, to);
    }
    return made;
  }();
  if (actual == wanted) return true;
  if (actual < 1 || actual > count || wanted < 1 || wanted > count) return false;
  return table[actual * (count + 1) + wanted];
}

const std::vector<ClassId>& conformingClasses(ClassId wanted) {
  static const std::vector<std::vector<ClassId>> table = [] {
    const auto classes = modelClasses();
    std::vector<std::vector<ClassId>> built(classes.size() + 1);
    for (const ClassInfo& to : classes) {
      for (const ClassInfo& from : classes) {
        if (conformsTo(from.id, to.id)) built[to.id].push_back(from.id);
      }
    }
    return built;
  }();
  static const std::vector<ClassId> none;
  return wanted < table.size() ? table[wanted] : none;
}

FeatureId attributeNamed(ClassId classId, std::string_view name) {
  for (const FeatureInfo& feature : modelFeatures()) {
    const bool attribute =
        feature.kind == FeatureKind::Attribute || feature.kind == FeatureKind::Hidden;
    const bool owned = feature.owner == 0 || conformsTo(classId, feature.owner);
    if (attribute && owned && name == feature.name) return feature.id;
  }
  return 0;
}
