#pragma once

// The record the host fills for every call it hands to the library. It is
// shared with the separately built host: the field order and widths are the
// interface.

#include <cstdint>

struct ModelCall {
  std::uint32_t hostProgram;  // owned by the host; the library never reads it
  std::uint32_t hostVersion;  // owned by the host; the library never reads it
  std::uint32_t classNumber;  // the model class addressed, 1..97
  std::int32_t templateId;    // kCastTemplateId selects the class's cast server
};
static_assert(sizeof(ModelCall) == 16, "four 32-bit words, no padding");

// Template id that sends a call to the class's cast server.
inline constexpr std::int32_t kCastTemplateId = 78;
