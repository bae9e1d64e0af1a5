#include <string>
#include <unordered_map>

#include "client/procedure_listing.h"

const ProcedureListing* findProcedureByLabel(std::string_view label) {
  static const auto byLabel = [] {
    std::unordered_map<std::string_view, const ProcedureListing*> built;
    for (std::size_t i = 0; i < kProcedureListingSize; ++i) {
      built.emplace(kProcedureListing[i].label, &kProcedureListing[i]);
    }
    return built;
  }();
  const auto found = byLabel.find(label);
  return found != byLabel.end() ? found->second : nullptr;
}
