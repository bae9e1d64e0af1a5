#pragma once

// In-memory forms of the scalar wire types. Every scalar is 32 bits wide in
// memory whatever the platform's `long`, and one 4-byte XDR word on the wire.

#include <cstdint>

// Names one registered object, collection or repository object; 0 is none.
using InteropHandle = std::uint32_t;

// Every `int` of the model interface: flags, truth values, options.
using udt_boolean = std::int32_t;

// Every `long` of the model interface: indexes, positions, counts.
using udt_integer = std::int32_t;

// One UTF-16 code unit. Text is a NUL-terminated array of them.
using Utf16Unit = char16_t;

// Text with its companion word; the pointer comes first in memory, the word
// first on the wire.
struct string_info {
  Utf16Unit* text;
  udt_integer textInfo;
};

// The largest call record the host accepts. No decode ever allocates more
// than a call of this size could carry.
inline constexpr std::uint32_t kMaxCallRecordBytes = 1u << 20;
