#pragma once

// A string of bytes as XDR variable-length opaque data (RFC 4506 4.10): its
// length, then the bytes padded to a word. Decoding refuses a length past
// `most` before it takes any room for it.

#include <rpc/xdr.h>

#include <cstdint>
#include <string>

inline bool_t xdrByteString(XDR* xdrs, std::string* text, std::uint32_t most) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  std::uint32_t length = static_cast<std::uint32_t>(text->size());
  if (!xdr_u_int32_t(xdrs, &length) || length > most) return FALSE;
  if (xdrs->x_op == XDR_DECODE) text->assign(length, '\0');
  return length == 0 || xdr_opaque(xdrs, text->data(), length);
}
