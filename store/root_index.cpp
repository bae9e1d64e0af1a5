#include "store/root_index.h"

namespace root_index {

namespace {

std::string classList(const StoreOptions::Roots& roots) {
  std::string list;
  for (ClassId each : roots.classes) {
    list.append(list.empty() ? "" : ",").append(std::to_string(each));
  }
  return list;
}

}  // namespace

std::string signature(const StoreOptions::Roots& roots) {
  if (!roots.kept()) return "";
  return "classes " + classList(roots) + "; reference " + std::to_string(roots.reference) +
         "; collection " + std::to_string(roots.collection);
}

std::string rebuildStatements(const StoreOptions::Roots& roots) {
  std::string sql = "DELETE FROM root_object;";
  if (roots.kept()) {
    sql += "INSERT INTO root_object (object) SELECT o.id FROM object o WHERE o.class IN (" +
           classList(roots) + ")";
    if (roots.reference != 0) {
      sql += " AND NOT EXISTS (SELECT 1 FROM reference r WHERE r.object = o.id AND r.feature = " +
             std::to_string(roots.reference) + " AND r.target <> 0)";
    }
    if (roots.collection != 0) {
      sql += " AND NOT EXISTS (SELECT 1 FROM member m WHERE m.feature = " +
             std::to_string(roots.collection) + " AND m.member = o.id)";
    }
    sql += ";";
  }
  return sql + "UPDATE root_state SET roots = '" + signature(roots) + "';";
}

}  // namespace root_index
