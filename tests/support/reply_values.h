#pragma once

// Data values in tests: building their wire bytes, and reading replies.

#include <cstdint>
#include <string>
#include <string_view>

#include "store/vorn_types.h"
#include "tests/support/test_transport.h"
#include "tests/support/wire_bytes.h"
#include "xdr/data_value.h"

// A data value's wire bytes: text in arm 10, a number in arm 11, the null
// value.
Bytes textValue(ValueClassId valueClass, std::u16string_view text);
Bytes numberValue(ValueClassId valueClass, std::int32_t number);
Bytes nullValue();

struct DecodedValue {
  bool decoded = false;
  std::int32_t kind = 0;
  std::int32_t extra = 0;
  std::int32_t number = 0;
  std::u16string text;
};

// A successful reply's body as a handle (a test failure otherwise) or as a
// data value.
InteropHandle handleOf(const Reply& reply);
DecodedValue valueOf(const Reply& reply);
// A successful reply holding one signed word (X_udt_integer or X_udt_boolean).
std::int32_t integerOf(const Reply& reply);
