#include "platform/qovix_srv/model_metadata.h"

#include <stdexcept>
#include <string>

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

bool conformsTo(ClassId actual, ClassId wanted) {
  if (actual == wanted) return true;
  if (actual < 1 || actual > modelClasses().size()) return false;
  for (ClassId parent : classInfo(actual).superclasses) {
    if (conformsTo(parent, wanted)) return true;
  }
  return false;
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
