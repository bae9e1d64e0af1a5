#include <algorithm>
#include <string>
#include <tuple>
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

const ProcedureListing* findProcedure(std::uint32_t classNumber, std::uint32_t number) {
  // The listing is in class and procedure-number order.
  const ProcedureListing* end = kProcedureListing + kProcedureListingSize;
  const ProcedureListing* found = std::lower_bound(
      kProcedureListing, end, std::tuple(classNumber, number),
      [](const ProcedureListing& row, const std::tuple<std::uint32_t, std::uint32_t>& key) {
        return std::tuple(row.classNumber, row.number) < key;
      });
  return found != end && found->classNumber == classNumber && found->number == number ? found
                                                                                     : nullptr;
}
