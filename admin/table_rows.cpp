#include "admin/table_rows.h"

namespace qovix::admin {

const std::vector<Table>& repositoryTables() {
  using K = ColumnKind;
  static const std::vector<Table> tables = {
      {"class", {{"id", K::Integer}, {"name", K::Name}}, "id"},
      {"feature", {{"id", K::Integer}, {"owner", K::Integer}, {"name", K::Name}}, "id"},
      {"object", {{"id", K::Integer}, {"class", K::Integer}}, "id"},
      {"attribute",
       {{"object", K::Integer},
        {"feature", K::Integer},
        {"value_class", K::Integer},
        {"number", K::Integer},
        {"text", K::ModelText}},
       "object, feature"},
      {"reference",
       {{"object", K::Integer}, {"feature", K::Integer}, {"target", K::Integer}},
       "object, feature"},
      {"member",
       {{"object", K::Integer},
        {"feature", K::Integer},
        {"member", K::Integer},
        {"next", K::Integer}},
       "object, feature, member"},
      {"value_item",
       {{"object", K::Integer},
        {"feature", K::Integer},
        {"position", K::Integer},
        {"value_class", K::Integer},
        {"number", K::Integer},
        {"text", K::ModelText}},
       "object, feature, position"},
      {"commit_log",
       {{"sequence", K::Integer}, {"time", K::Time}, {"principal", K::Name}, {"server", K::Name}},
       "sequence"},
      {"commit_object",
       {{"sequence", K::Integer},
        {"object", K::Integer},
        {"change", K::Name},
        {"class", K::Integer},
        {"changes", K::Bytes}},
       "sequence, object"},
  };
  return tables;
}

}  // namespace qovix::admin
