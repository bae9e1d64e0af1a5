#pragma once

// Every procedure the server answers, in class and procedure-number order:
// what clients and tools need to address a procedure and encode its
// arguments. Generated from the model class catalogue.

#include <cstddef>
#include <cstdint>
#include <string_view>

struct ProcedureListing {
  std::uint32_t classNumber;
  std::uint32_t number;
  const char* className;  // "QOVIXTaggedValue"
  const char* label;      // "QOVIXTaggedValue_get_tag_0"
  const char* family;     // head, tail, attribute, single, readonly, set, list, array,
                          // values or operation
  const char* feature;    // the feature or operation served; "" for head and tail
  const char* member;     // the model-library member, "QOVIXName get_tag() const"
  const char* argument;   // argument filter: xdr_void, X_InteropHandle or a record shape
  const char* result;     // result filter
  const char* title;      // how messages name it: "TaggedValue.get_tag"
};

extern const ProcedureListing kProcedureListing[];
extern const std::size_t kProcedureListingSize;

// The procedure labelled `label` ("QOVIXTaggedValue_get_tag_0"); null when
// there is none.
const ProcedureListing* findProcedureByLabel(std::string_view label);

// Procedure `number` of class `classNumber`; null when there is none.
const ProcedureListing* findProcedure(std::uint32_t classNumber, std::uint32_t number);
