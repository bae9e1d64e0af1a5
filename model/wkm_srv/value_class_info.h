#pragma once

// What the converter and the model library need to know about each data-value
// class without naming it: its number, its payload, and how to make one. The
// table of these is written by the generator from the catalogue's data types.

#include <cstdint>
#include <span>
#include <string_view>

#include "model/wkm_srv/VornDataType.h"
#include "store/vorn_types.h"
#include "model/wkm_srv/wkm_srv_api.h"

enum class ValuePayload {
  Text,    // UTF-16 text (TextValue)
  Number,  // any 32-bit integer (VornInteger)
  Ordinal  // one of `literalCount` literals, from 0 (VornEnumeration)
};

struct ValueClassInfo {
  ValueClassId id;
  const char* name;
  ValuePayload payload;
  std::int32_t literalCount;  // for Ordinal payloads
  // The class's default value on the heap; null when no memory is to be had.
  VornDataType* (*makeDefault)();
};

// Every value class, by id (1 first).
WKM_SRV_API std::span<const ValueClassInfo> valueClasses();
// The class numbered `id`, or null.
WKM_SRV_API const ValueClassInfo* valueClassInfo(ValueClassId id);

// Whether `text` is well-formed UTF-16: every surrogate one of a pair.
WKM_SRV_API bool isWellFormedUtf16(std::u16string_view text);
// Whether a payload is one the class takes, as the wire checks it: an
// ordinal among the class's literals; text that is well-formed.
WKM_SRV_API bool takesPayload(const ValueClassInfo& info, std::int32_t number,
                              std::u16string_view text);
