#include "wire/wire_primitives.h"

namespace wire {

bool_t units(XDR* xdrs, std::u16string* text) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  std::uint32_t count = static_cast<std::uint32_t>(text->size()) + 1;
  if (!xdr_u_int32_t(xdrs, &count)) return FALSE;
  if (xdrs->x_op == XDR_ENCODE) {
    for (char16_t unit : *text) {
      std::uint32_t sent = unit;
      if (!xdr_u_int32_t(xdrs, &sent)) return FALSE;
    }
    std::uint32_t terminator = 0;
    return xdr_u_int32_t(xdrs, &terminator);
  }
  text->clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t unit = 0;
    if (!xdr_u_int32_t(xdrs, &unit) || unit > 0xFFFF) return FALSE;
    if (i + 1 < count)
      text->push_back(static_cast<char16_t>(unit));
    else if (unit != 0)
      return FALSE;
  }
  return TRUE;
}

bool_t boolean(XDR* xdrs, bool* value) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  bool_t wire = *value ? TRUE : FALSE;
  if (!xdr_bool(xdrs, &wire)) return FALSE;
  *value = wire != FALSE;
  return TRUE;
}

}  // namespace wire
