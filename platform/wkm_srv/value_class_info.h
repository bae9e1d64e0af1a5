#pragma once

// What the converter and the model library need to know about each data-value
// class without naming it: its number, its payload, and how to make one. The
// table of these is written by the generator from the catalogue's data types.

#include <cstdint>
#include <span>

#include "platform/wkm_srv/VornDataType.h"
#include "platform/wkm_srv/vorn_types.h"
#include "platform/wkm_srv/wkm_srv_api.h"

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
