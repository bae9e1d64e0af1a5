#pragma once

// The pieces the records' filters (wire_filters.cpp) are made of, beyond
// libtirpc's own: byte strings, UTF-16 text, lists and bools, each serving
// encode, decode and free as every filter does.

#include <rpc/xdr.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wire {

// A string of bytes as XDR variable-length opaque data (RFC 4506 4.10): its
// length, then the bytes padded to a word. Decoding refuses a length past
// `most` before it takes any room for it.
inline bool_t byteString(XDR* xdrs, std::string* text, std::uint32_t most) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  std::uint32_t length = static_cast<std::uint32_t>(text->size());
  if (!xdr_u_int32_t(xdrs, &length) || length > most) return FALSE;
  if (xdrs->x_op == XDR_DECODE) text->assign(length, '\0');
  return length == 0 || xdr_opaque(xdrs, text->data(), length);
}

// As X_stringUTF16: the count of units with the terminator, each unit a
// word. Decoding refuses a unit past 0xFFFF and a last unit that is not 0.
bool_t units(XDR* xdrs, std::u16string* text);

// An XDR bool into a C++ one.
bool_t boolean(XDR* xdrs, bool* value);

// A count, then each item by `filter`. Decoding grows the list one item at
// a time: a count larger than the record fails at the record's end, and
// reserves nothing.
template <class T>
bool_t list(XDR* xdrs, std::vector<T>* items, bool_t (*filter)(XDR*, T*)) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  std::uint32_t count = static_cast<std::uint32_t>(items->size());
  if (!xdr_u_int32_t(xdrs, &count)) return FALSE;
  if (xdrs->x_op == XDR_ENCODE) {
    for (T& item : *items) {
      if (!filter(xdrs, &item)) return FALSE;
    }
    return TRUE;
  }
  items->clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!filter(xdrs, &items->emplace_back())) return FALSE;
  }
  return TRUE;
}

}  // namespace wire
