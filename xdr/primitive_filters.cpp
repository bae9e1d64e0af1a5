#include "xdr/primitive_filters.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "utf/utf.h"
#include "xdr/decode_bound.h"
#include "xdr/union_filter.h"

namespace {

constexpr std::uint32_t kWordBytes = 4;

template <class T>
void release(T** pointer) {
  std::free(*pointer);
  *pointer = nullptr;
}

// The present arm of an optional string: length word, bytes, padding.
bool_t filterPresentString(XDR* xdrs, char** string) {
  switch (xdrs->x_op) {
    case XDR_ENCODE: {
      const std::size_t length = std::strlen(*string);
      if (length > UINT32_MAX) return FALSE;
      auto wireLength = static_cast<std::uint32_t>(length);
      return xdr_u_int32_t(xdrs, &wireLength) && xdr_opaque(xdrs, *string, wireLength);
    }
    case XDR_DECODE: {
      std::uint32_t length = 0;
      if (!xdr_u_int32_t(xdrs, &length)) return FALSE;
      if (length > decodableBytesLeft(xdrs)) return FALSE;
      auto* copy = static_cast<char*>(std::malloc(std::size_t{length} + 1));
      if (copy == nullptr) return FALSE;
      if (!xdr_opaque(xdrs, copy, length)) {
        std::free(copy);
        return FALSE;
      }
      copy[length] = '\0';
      *string = copy;
      return TRUE;
    }
    case XDR_FREE:
      release(string);
      return TRUE;
  }
  return FALSE;
}

bool_t filterAbsentString(XDR*, char**) { return TRUE; }

constexpr UnionArm<char*> kOptionalStringArms[] = {
    {1, &filterPresentString},
    {0, &filterAbsentString},
};

bool_t encodeUtf16(XDR* xdrs, const Utf16Unit* text) {
  std::uint32_t count = 0;
  if (text != nullptr) {
    const std::size_t length = std::char_traits<Utf16Unit>::length(text);
    if (length >= UINT32_MAX) return FALSE;
    count = static_cast<std::uint32_t>(length) + 1;  // the terminator travels too
  }
  if (!xdr_u_int32_t(xdrs, &count)) return FALSE;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t word = text[i];
    if (!xdr_u_int32_t(xdrs, &word)) return FALSE;
  }
  return TRUE;
}

bool_t decodeUtf16(XDR* xdrs, Utf16Unit** text) {
  std::uint32_t count = 0;
  if (!xdr_u_int32_t(xdrs, &count)) return FALSE;
  if (count == 0) return TRUE;
  if (count > decodableBytesLeft(xdrs) / kWordBytes) return FALSE;
  if (count > utf::kMostTextUnits + 1) return FALSE;  // the terminator travels too
  release(text);
  // One unit more than received, so the text ends in NUL even when the
  // sender left the terminator out.
  auto* units = static_cast<Utf16Unit*>(std::calloc(std::size_t{count} + 1, sizeof(Utf16Unit)));
  if (units == nullptr) return FALSE;
  *text = units;  // referenced from here on, so a free pass releases a partial decode
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t word = 0;
    if (!xdr_u_int32_t(xdrs, &word)) return FALSE;
    units[i] = static_cast<Utf16Unit>(word & 0xFFFFu);  // the unit is the word's low half
  }
  return TRUE;
}

}  // namespace

bool_t X_InteropHandle(XDR* xdrs, InteropHandle* handle) { return xdr_u_int32_t(xdrs, handle); }

bool_t X_udt_boolean(XDR* xdrs, udt_boolean* value) { return xdr_int32_t(xdrs, value); }

bool_t X_udt_integer(XDR* xdrs, udt_integer* value) { return xdr_int32_t(xdrs, value); }

bool_t X_OptionalString(XDR* xdrs, char** string) {
  std::int32_t present = *string != nullptr ? 1 : 0;
  if (xdrs->x_op == XDR_DECODE) release(string);
  return filterUnion(xdrs, &present, string, kOptionalStringArms);
}

bool_t X_stringUTF16(XDR* xdrs, Utf16Unit** text) {
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      return encodeUtf16(xdrs, *text);
    case XDR_DECODE:
      return decodeUtf16(xdrs, text);
    case XDR_FREE:
      release(text);
      return TRUE;
  }
  return FALSE;
}

bool_t X_string_info(XDR* xdrs, string_info* info) {
  return X_udt_integer(xdrs, &info->textInfo) && X_stringUTF16(xdrs, &info->text);
}
