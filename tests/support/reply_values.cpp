#include "tests/support/reply_values.h"

#include <gtest/gtest.h>

#include "xdr/primitive_filters.h"

Bytes textValue(ValueClassId valueClass, std::u16string_view text) {
  Bytes bytes = words(
      {10, static_cast<std::uint32_t>(valueClass), static_cast<std::uint32_t>(text.size() + 1)});
  bytes.reserve(bytes.size() + 4 * (text.size() + 1));
  for (char16_t unit : text) {
    const Bytes word = words({unit});
    bytes.insert(bytes.end(), word.begin(), word.end());
  }
  return bytes + words({0});
}

Bytes numberValue(ValueClassId valueClass, std::int32_t number) {
  return words({11, static_cast<std::uint32_t>(valueClass), static_cast<std::uint32_t>(number)});
}

Bytes nullValue() { return words({0xFFFFFFFF, 0}); }

InteropHandle handleOf(const Reply& reply) {
  InteropHandle handle = 0;
  EXPECT_EQ(reply.status, ReplyStatus::Success);
  EXPECT_TRUE(decode(X_InteropHandle, handle, reply.body).decoded) << hex(reply.body);
  return handle;
}

std::int32_t integerOf(const Reply& reply) {
  std::int32_t number = 0;
  EXPECT_EQ(reply.status, ReplyStatus::Success);
  EXPECT_TRUE(decode(X_udt_integer, number, reply.body).decoded) << hex(reply.body);
  return number;
}

DecodedValue valueOf(const Reply& reply) {
  DecodedValue result;
  if (reply.status != ReplyStatus::Success) return result;
  udt_dataType value{};
  result.decoded = decode(X_VornDataType, value, reply.body).decoded;
  result.kind = value.kind;
  result.extra = value.extra;
  if (value.kind == 10 && value.text != nullptr) result.text = value.text;
  if (value.kind == 11) result.number = value.value.integer;
  freeWith(X_VornDataType, value);
  return result;
}
