#pragma once

// Filters of the scalar and string wire types. Each serves the three stream
// operations (encode, decode, free) and returns TRUE on success.
//
// Strings are allocated with the C allocator, so a string that one of these
// filters decoded may also be released with the runtime's xdr_free.

#include <rpc/xdr.h>

#include "xdr/wire_types.h"

// One unsigned word.
bool_t X_InteropHandle(XDR* xdrs, InteropHandle* handle);

// One signed word.
bool_t X_udt_boolean(XDR* xdrs, udt_boolean* value);

// One signed word.
bool_t X_udt_integer(XDR* xdrs, udt_integer* value);

// A NUL-terminated 8-bit string or null. On the wire a discriminant word, 0
// for null; for 1, the length in bytes, the bytes and padding to a word.
// Decoding into a slot that holds a string releases the old string first.
bool_t X_OptionalString(XDR* xdrs, char** string);

// A NUL-terminated UTF-16 string or null. On the wire the count of units with
// the terminator (0 for null), then each unit zero-extended to one word.
// A received count of 0 leaves the pointer as it was.
bool_t X_stringUTF16(XDR* xdrs, Utf16Unit** text);

// `textInfo` as one word, then `text` as X_stringUTF16.
bool_t X_string_info(XDR* xdrs, string_info* info);
