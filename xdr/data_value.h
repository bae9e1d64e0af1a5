#pragma once

// A data value in flat form, `udt_dataType`, and its wire filter
// `X_VornDataType`: a header of two words (`kind`, `extra`), then the payload
// of the arm `kind` selects. `kind` -1 is the null value, the header alone.
// Which value class travels under which arm is the converter's business; this
// file only moves the arms between memory and the wire.

#include <rpc/xdr.h>

#include <cstdint>

#include "xdr/wire_types.h"

// Payload of arms 1 and 9.
struct udt_longPair {
  udt_integer first;
  udt_integer second;
};

// Payload of arm 2; each char and the short travel as one sign-extended word.
struct udt_charsAndShort {
  std::int8_t char1;
  std::int8_t char2;
  std::int8_t char3;
  std::int16_t short1;
};

// Payload of arm 6; on the wire the order is first, third, second.
struct udt_longTriple {
  udt_integer first;
  udt_integer second;
  udt_integer third;
};

// Payload of arm 7: two longs, then two optional 8-bit strings.
struct udt_longsAndStrings {
  udt_integer first;
  udt_integer second;
  char* string1;
  char* string2;
};

// Payload of arm 8.
struct udt_shortAndChars {
  std::int16_t short1;
  std::int8_t char1;
  std::int8_t char2;
};

union udt_value {
  udt_longPair longPair;                // arms 1 and 9
  udt_charsAndShort charsAndShort;      // arm 2
  InteropHandle handle;                 // arms 3 and 12
  double real;                          // arm 5
  udt_longTriple longTriple;            // arm 6
  udt_longsAndStrings longsAndStrings;  // arm 7
  udt_shortAndChars shortAndChars;      // arm 8
  udt_boolean integer;                  // arm 11
};

struct udt_dataType {
  std::int32_t kind;   // 1..12 select an arm; -1 is the null value
  std::int32_t extra;  // travels with every value, the null one included
  udt_value value;     // payload of every arm but 4 and 10
  Utf16Unit* text;     // arms 4 and 10
  udt_integer textInfo;  // arm 4
};

inline constexpr std::int32_t kNullDataValue = -1;
inline constexpr std::int32_t kFirstArm = 1;
inline constexpr std::int32_t kLastArm = 12;
// The arms the repository's value classes travel in: text, and a number or
// literal.
inline constexpr std::int32_t kTextArm = 10;
inline constexpr std::int32_t kNumberArm = 11;

// Encode and free accept a null `value`, which stands for the null data value.
// A received null value is stored as kind -1 with its `extra`. A `kind`
// other than -1 and 1..12 fails in every direction (after the header, on
// encode and decode); freeing such a record releases nothing.
bool_t X_VornDataType(XDR* xdrs, udt_dataType* value);
