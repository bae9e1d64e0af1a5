// The procedure tables generated from the catalogue, checked against the
// published numbering: totals, worked examples, and for every procedure the
// filters its kind requires.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "class_dispatchers.h"
#include "client/procedure_listing.h"
#include "dispatch/entry_point.h"
#include "tests/support/test_transport.h"
#include "xdr/argument_records.h"
#include "xdr/data_value.h"
#include "xdr/primitive_filters.h"

namespace {

// The untyped filter pointers a table row holds, by filter name.
const std::map<std::string, XdrFilter>& filtersByName() {
  static const std::map<std::string, XdrFilter> filters = {
      {"xdr_void", untypedFilter<&voidFilter>},
      {"X_InteropHandle", untypedFilter<&X_InteropHandle>},
      {"X_udt_boolean", untypedFilter<&X_udt_boolean>},
      {"X_udt_integer", untypedFilter<&X_udt_integer>},
      {"X_OptionalString", untypedFilter<&X_OptionalString>},
      {"X_VornDataType", untypedFilter<&X_VornDataType>},
      {"X_HandleHandle", untypedFilter<&X_HandleHandle>},
      {"X_HandleLong", untypedFilter<&X_HandleLong>},
      {"X_HandleInt", untypedFilter<&X_HandleInt>},
      {"X_HandleValue", untypedFilter<&X_HandleValue>},
      {"X_HandleHandleValue", untypedFilter<&X_HandleHandleValue>},
      {"X_HandleValueValueInt", untypedFilter<&X_HandleValueValueInt>},
      {"X_HandleValueLongInt", untypedFilter<&X_HandleValueLongInt>},
      {"X_HandleHandleLong", untypedFilter<&X_HandleHandleLong>},
      {"X_HandleValueHandle", untypedFilter<&X_HandleValueHandle>},
      {"X_HandleValueValue", untypedFilter<&X_HandleValueValue>},
      {"X_HandleValueValueHandle", untypedFilter<&X_HandleValueValueHandle>},
      {"X_HandleHandleHandleValue", untypedFilter<&X_HandleHandleHandleValue>},
      {"X_HandleHandleHandle", untypedFilter<&X_HandleHandleHandle>},
      {"X_HandleValueLong", untypedFilter<&X_HandleValueLong>},
      {"X_HandleHandleValueValue", untypedFilter<&X_HandleHandleValueValue>},
  };
  return filters;
}

std::string filterName(XdrFilter filter) {
  for (const auto& [name, pointer] : filtersByName()) {
    if (pointer == filter) return name;
  }
  return filter == nullptr ? "(none)" : "(unknown)";
}

const ProcedureEntry& entryOf(std::uint32_t classNumber, std::uint32_t number) {
  return classRoutes[classNumber - 1].procedures[number - 1];
}

std::map<std::string, int> countBy(bool byArgument) {
  std::map<std::string, int> counts;
  for (const ClassRoute& route : classRoutes) {
    for (const ProcedureEntry& entry : route.procedures) {
      if (entry.argumentFilter != nullptr) {
        ++counts[filterName(byArgument ? entry.argumentFilter : entry.resultFilter)];
      }
    }
  }
  return counts;
}

// Each class's table ends at the highest number its catalogue record gives.
TEST(ProcedureTables, EachClassEndsAtItsHighestNumber) {
  std::ifstream catalogue(QOVIX_CATALOGUE);
  ASSERT_TRUE(catalogue) << QOVIX_CATALOGUE;
  const std::regex record(R"(class (\d+) (\w+) highest (\d+)\b.*)");
  std::uint32_t classes = 0;
  for (std::string line; std::getline(catalogue, line);) {
    std::smatch found;
    if (!std::regex_match(line, found, record)) continue;
    const std::uint32_t number = std::stoul(found[1]);
    ASSERT_EQ(number, ++classes) << line;
    ASSERT_LE(number, kClassCount) << line;
    EXPECT_EQ(classRoutes[number - 1].name, found[2].str()) << line;
    EXPECT_EQ(classRoutes[number - 1].procedures.size(), std::stoul(found[3])) << line;
  }
  EXPECT_EQ(classes, kClassCount);
}

TEST(ProcedureTables, ServeExactly2649ProceduresWithFourGaps) {
  int served = 0;
  std::set<std::pair<std::string, std::uint32_t>> gaps;
  for (const ClassRoute& route : classRoutes) {
    for (std::size_t i = 0; i < route.procedures.size(); ++i) {
      if (route.procedures[i].argumentFilter != nullptr) {
        ++served;
      } else {
        gaps.insert({route.name, static_cast<std::uint32_t>(i + 1)});
      }
    }
  }
  EXPECT_EQ(served, 2649);
  EXPECT_EQ(gaps,
            (std::set<std::pair<std::string, std::uint32_t>>{{"QOVIXAssociation", 36},
                                                             {"QOVIXLink", 20},
                                                             {"QOVIXUseCase", 9},
                                                             {"QOVIXMultiplicityRange", 14}}));
  EXPECT_EQ(kProcedureListingSize, 2649u);
}

TEST(ProcedureTables, TheGapsAnswerProcedureUnavailable) {
  TestTransport transport;
  for (auto [classNumber, number] : {std::pair{24u, 36u}, {36u, 20u}, {55u, 9u}, {82u, 14u}}) {
    const auto& replies = transport.call(QOVIX_server_1, {classNumber, 0, number}, {});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, ReplyStatus::ProcedureUnavailable);
  }
}

TEST(ProcedureTables, TotalsByArgumentFilter) {
  const std::map<std::string, int> expected = {
      {"xdr_void", 291},
      {"X_InteropHandle", 972},
      {"X_HandleHandle", 628},
      {"X_HandleLong", 246},
      {"X_HandleInt", 194},
      {"X_HandleValue", 163},
      {"X_HandleHandleValue", 87},
      {"X_HandleValueValueInt", 24},
      {"X_HandleValueLongInt", 17},
      {"X_HandleHandleLong", 14},
      {"X_HandleValueHandle", 6},
      {"X_HandleValueValue", 2},
      {"X_HandleValueValueHandle", 1},
      {"X_HandleHandleHandleValue", 1},
      {"X_HandleHandleHandle", 1},
      {"X_HandleValueLong", 1},
      {"X_HandleHandleValueValue", 1},
  };
  EXPECT_EQ(countBy(true), expected);
}

TEST(ProcedureTables, TotalsByResultFilter) {
  const std::map<std::string, int> expected = {
      {"xdr_void", 981},      {"X_InteropHandle", 974},  {"X_udt_boolean", 302},
      {"X_udt_integer", 123}, {"X_OptionalString", 194}, {"X_VornDataType", 75},
  };
  EXPECT_EQ(countBy(false), expected);
}

TEST(ProcedureTables, RecordSizesMatchTheArgumentFilters) {
  const std::map<std::string, unsigned> sizes = {
      {"xdr_void", sizeof(std::int32_t)},
      {"X_InteropHandle", sizeof(InteropHandle)},
      {"X_HandleHandle", sizeof(HandleHandle)},
      {"X_HandleValueValueInt", sizeof(HandleValueValueInt)},
      {"X_HandleHandleValueValue", sizeof(HandleHandleValueValue)}};
  for (const ClassRoute& route : classRoutes) {
    for (const ProcedureEntry& entry : route.procedures) {
      const auto size = sizes.find(filterName(entry.argumentFilter));
      if (size != sizes.end()) {
        EXPECT_EQ(entry.argumentSize, size->second) << route.name;
      }
    }
  }
}

// The listing and the tables agree row for row.
TEST(ProcedureTables, ListingMatchesTheTables) {
  for (std::size_t i = 0; i < kProcedureListingSize; ++i) {
    const ProcedureListing& row = kProcedureListing[i];
    const ProcedureEntry& entry = entryOf(row.classNumber, row.number);
    EXPECT_EQ(filterName(entry.argumentFilter), row.argument) << row.label;
    EXPECT_EQ(filterName(entry.resultFilter), row.result) << row.label;
    EXPECT_STREQ(classRoutes[row.classNumber - 1].name, row.className);
  }
}

std::map<std::uint32_t, std::string> labelsOf(std::uint32_t classNumber) {
  std::map<std::uint32_t, std::string> labels;
  for (std::size_t i = 0; i < kProcedureListingSize; ++i) {
    if (kProcedureListing[i].classNumber == classNumber) {
      labels[kProcedureListing[i].number] = kProcedureListing[i].label;
    }
  }
  return labels;
}

TEST(ProcedureNumbering, Element) {
  EXPECT_EQ(labelsOf(1),
            (std::map<std::uint32_t, std::string>{{1, "QOVIXElement_create_0"},
                                                  {2, "QOVIXElement_create_1"},
                                                  {3, "QOVIXElement_create_2"},
                                                  {4, "QOVIXElement_destroy_0"},
                                                  {5, "QOVIXElement_QOVIXElementconstruct_0"},
                                                  {6, "QOVIXElement_duplicate_0"},
                                                  {7, "QOVIXElement__find__0"},
                                                  {8, "QOVIXElement_className_0"},
                                                  {9, "QOVIXElement_modelPrefix_0"},
                                                  {10, "QOVIXElement_operatorAssign_0"}}));
}

TEST(ProcedureNumbering, TaggedValue) {
  const auto labels = labelsOf(2);
  const std::map<std::uint32_t, std::string> expected = {{5, "get_tag_0"},
                                                         {6, "set_tag_0"},
                                                         {7, "get_umlValue_0"},
                                                         {8, "set_umlValue_0"},
                                                         {9, "get_modelElement_0"},
                                                         {10, "isNull_modelElement_0"},
                                                         {11, "set_modelElement_0"},
                                                         {12, "flush_modelElement_0"},
                                                         {13, "get_stereotype_0"},
                                                         {16, "flush_stereotype_0"},
                                                         {17, "QOVIXTaggedValueconstruct_0"},
                                                         {18, "QOVIXTaggedValuelabel_0"},
                                                         {19, "duplicate_0"},
                                                         {20, "_find__0"},
                                                         {21, "_find__1"},
                                                         {22, "className_0"},
                                                         {23, "modelPrefix_0"},
                                                         {24, "operatorAssign_0"}};
  for (const auto& [number, suffix] : expected) {
    EXPECT_EQ(labels.at(number), "QOVIXTaggedValue_" + suffix);
  }
  EXPECT_EQ(labels.size(), 24u);
}

TEST(ProcedureNumbering, StructuralFeatureReadOnlyMultiplicity) {
  const auto labels = labelsOf(14);
  EXPECT_EQ(labels.at(13), "QOVIXStructuralFeature_get_multiplicity_0");
  EXPECT_EQ(labels.at(14), "QOVIXStructuralFeature_isNull_multiplicity_0");
  EXPECT_EQ(labels.at(15), "QOVIXStructuralFeature_QOVIXStructuralFeatureconstruct_0");
  EXPECT_EQ(labels.rbegin()->first, 22u);
  for (const auto& [number, label] : labels) {
    EXPECT_EQ(label.find("set_multiplicity"), std::string::npos);
    EXPECT_EQ(label.find("flush_multiplicity"), std::string::npos);
  }
}

TEST(ProcedureNumbering, UseCaseValueList) {
  const auto labels = labelsOf(55);
  const std::map<std::uint32_t, std::string> expected = {{5, "get_extensionPoint_1"},
                                                         {6, "contains_extensionPoint_0"},
                                                         {7, "size_extensionPoint_0"},
                                                         {8, "isNull_extensionPoint_0"},
                                                         {10, "add_extensionPoint_0"},
                                                         {11, "rmv_extensionPoint_0"},
                                                         {12, "rmv_extensionPoint_1"},
                                                         {13, "flush_extensionPoint_0"},
                                                         {14, "QOVIXUseCasespecificationPath_0"},
                                                         {15, "QOVIXUseCaseconstruct_0"},
                                                         {21, "operatorAssign_0"}};
  for (const auto& [number, suffix] : expected) {
    EXPECT_EQ(labels.at(number), "QOVIXUseCase_" + suffix);
  }
  EXPECT_EQ(labels.count(9), 0u);
  EXPECT_EQ(filterName(entryOf(55, 10).argumentFilter), "X_HandleValueLong");
  EXPECT_EQ(filterName(entryOf(55, 5).resultFilter), "X_VornDataType");
}

TEST(ProcedureNumbering, EndOfModelElement) {
  const auto labels = labelsOf(3);
  EXPECT_EQ(labels.at(163), "QOVIXModelElement_duplicate_0");
  EXPECT_EQ(labels.at(164), "QOVIXModelElement__find__0");
  EXPECT_EQ(labels.at(165), "QOVIXModelElement__find__1");
  EXPECT_EQ(labels.at(166), "QOVIXModelElement__find__2");
  EXPECT_EQ(labels.at(167), "QOVIXModelElement_find_myName_0");
  EXPECT_EQ(labels.at(168), "QOVIXModelElement_className_0");
  EXPECT_EQ(labels.at(169), "QOVIXModelElement_modelPrefix_0");
  EXPECT_EQ(labels.at(170), "QOVIXModelElement_operatorAssign_0");
}

// The filters each kind of procedure requires, keyed by family and the
// label's suffix with the feature name taken out.
struct Rule {
  std::string argument;
  std::string result;
};

const std::map<std::string, Rule>& familyRules() {
  static const std::map<std::string, Rule> rules = {
      {"head create_0", {"xdr_void", "X_InteropHandle"}},
      {"head create_1", {"X_InteropHandle", "X_InteropHandle"}},
      {"head create_2", {"X_HandleInt", "X_InteropHandle"}},
      {"head destroy_0", {"X_InteropHandle", "xdr_void"}},
      {"attribute get_0", {"X_InteropHandle", "X_VornDataType"}},
      {"attribute set_0", {"X_HandleValue", "xdr_void"}},
      {"reference get_0", {"X_InteropHandle", "X_InteropHandle"}},
      {"reference isNull_0", {"X_InteropHandle", "X_udt_boolean"}},
      {"reference set_0", {"X_HandleHandle", "xdr_void"}},
      {"reference flush_0", {"X_InteropHandle", "xdr_void"}},
      {"collection get_0", {"X_InteropHandle", "X_InteropHandle"}},
      {"collection get_1", {"X_HandleLong", "X_InteropHandle"}},
      {"collection contains_0", {"X_HandleHandle", "X_udt_boolean"}},
      {"collection size_0", {"X_InteropHandle", "X_udt_integer"}},
      {"collection isNull_0", {"X_InteropHandle", "X_udt_boolean"}},
      {"collection set_0", {"X_HandleHandle", "xdr_void"}},
      {"collection add_0", {"X_HandleHandle", "xdr_void"}},
      {"list add_0", {"X_HandleHandleLong", "xdr_void"}},
      {"collection rmv_0", {"X_HandleHandle", "xdr_void"}},
      {"collection rmv_1", {"X_HandleLong", "xdr_void"}},
      {"collection flush_0", {"X_InteropHandle", "xdr_void"}},
      {"values get_1", {"X_HandleLong", "X_VornDataType"}},
      {"values contains_0", {"X_HandleValue", "X_udt_boolean"}},
      {"values size_0", {"X_InteropHandle", "X_udt_integer"}},
      {"values isNull_0", {"X_InteropHandle", "X_udt_boolean"}},
      {"values add_0", {"X_HandleValueLong", "xdr_void"}},
      {"values rmv_0", {"X_HandleValue", "xdr_void"}},
      {"values rmv_1", {"X_HandleLong", "xdr_void"}},
      {"values flush_0", {"X_InteropHandle", "xdr_void"}},
      {"tail duplicate_0", {"X_HandleValue", "X_InteropHandle"}},
      {"tail _find__0", {"X_HandleInt", "X_InteropHandle"}},
      {"tail _find__1", {"X_HandleValueValueInt", "X_InteropHandle"}},
      {"tail _find__2", {"X_HandleValueLongInt", "X_InteropHandle"}},
      {"tail find_myName_0", {"X_HandleValue", "X_InteropHandle"}},
      {"tail className_0", {"xdr_void", "X_OptionalString"}},
      {"tail modelPrefix_0", {"xdr_void", "X_OptionalString"}},
      {"tail operatorAssign_0", {"X_HandleHandle", "X_InteropHandle"}},
  };
  return rules;
}

std::string ruleKey(const ProcedureListing& row) {
  std::string suffix = std::string(row.label).substr(std::strlen(row.className) + 1);
  const std::string family = row.family;
  if (family == "head" || family == "tail") return family + " " + suffix;
  // get_tag_0 -> get_0: drop the feature's name.
  const std::string feature = row.feature;
  suffix.replace(suffix.find("_" + feature + "_"), feature.size() + 1, "");
  if (family == "single" || family == "readonly") return "reference " + suffix;
  if (family == "list" && suffix == "add_0") return "list add_0";
  if (family == "set" || family == "list" || family == "array") return "collection " + suffix;
  return family + " " + suffix;
}

// A class operation travels by its signature: the object's handle, then a
// handle per object parameter, a value per data-value parameter; its result
// is a handle for an object, a value for a data value, nothing for void.
Rule operationRule(const ProcedureListing& row) {
  static const std::regex shape(R"(^(\S+) \w+\((.*)\)$)");
  std::smatch match;
  const std::string member = row.member;
  if (!std::regex_match(member, match, shape)) return {"(unparsed)", "(unparsed)"};
  std::set<std::string> classes;
  for (const ClassRoute& route : classRoutes) classes.insert(route.name);
  auto isObject = [&](const std::string& type) {
    const std::string base = type.substr(0, type.find_first_of("<& "));
    const bool baseObject = base.rfind("Vorn", 0) == 0 && base != "VornString" &&
                            base != "VornBoolean" && base != "VornReferenceProcessing";
    return classes.count(base) > 0 || baseObject;
  };
  std::string fields = "Handle";
  std::string parameters = match[2];
  for (std::size_t start = 0; !parameters.empty() && start <= parameters.size();) {
    const std::size_t comma = parameters.find(", ", start);
    const std::string parameter = parameters.substr(start, comma - start);
    fields += isObject(parameter) ? "Handle" : "Value";
    if (comma == std::string::npos) break;
    start = comma + 2;
  }
  const std::string result = match[1];
  return {fields == "Handle" ? "X_InteropHandle" : "X_" + fields, result == "void" ? "xdr_void"
                                                                  : isObject(result)
                                                                      ? "X_InteropHandle"
                                                                      : "X_VornDataType"};
}

TEST(ProcedureTables, EveryProcedureHasTheFiltersItsKindRequires) {
  std::set<std::string> rulesUsed;
  for (std::size_t i = 0; i < kProcedureListingSize; ++i) {
    const ProcedureListing& row = kProcedureListing[i];
    const ProcedureEntry& entry = entryOf(row.classNumber, row.number);
    Rule rule{};
    std::string key = "operation";
    if (std::string(row.family) == "operation") {
      rule = operationRule(row);
    } else {
      key = ruleKey(row);
      const auto found = familyRules().find(key);
      ASSERT_NE(found, familyRules().end()) << row.label << " has no rule (" << key << ")";
      rule = found->second;
    }
    rulesUsed.insert(key);
    EXPECT_EQ(filterName(entry.argumentFilter), rule.argument) << row.label;
    EXPECT_EQ(filterName(entry.resultFilter), rule.result) << row.label;
  }
  EXPECT_EQ(rulesUsed.size(), familyRules().size() + 1) << "every rule applies somewhere";
}

TEST(ProcedureTables, ClassOperationResultsAndConstructs) {
  int constructs = 0;
  int otherOperations = 0;
  for (std::size_t i = 0; i < kProcedureListingSize; ++i) {
    const ProcedureListing& row = kProcedureListing[i];
    if (std::string(row.family) != "operation") continue;
    const bool construct = std::string(row.feature) == "construct";
    ++(construct ? constructs : otherOperations);
    if (construct) {
      EXPECT_STREQ(row.result, "xdr_void") << row.label;
    }
  }
  EXPECT_EQ(constructs, 102);
  EXPECT_EQ(otherOperations, 74) << "with find_myName_0, the 75 other class operations";
}

}  // namespace
