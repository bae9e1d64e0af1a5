#include "xdr/data_value.h"

#include "xdr/primitive_filters.h"
#include "xdr/union_filter.h"

namespace {

// A char or short is one word on the wire, sign-extended on encode; decoding
// keeps the low bits, as the runtime's xdr_char and xdr_short do.
template <class Narrow>
bool_t filterNarrow(XDR* xdrs, Narrow* field) {
  std::int32_t word = *field;
  if (!xdr_int32_t(xdrs, &word)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) *field = static_cast<Narrow>(word);
  return TRUE;
}

bool_t filterLongPair(XDR* xdrs, udt_dataType* value) {
  udt_longPair& pair = value->value.longPair;
  return X_udt_integer(xdrs, &pair.first) && X_udt_integer(xdrs, &pair.second);
}

bool_t filterCharsAndShort(XDR* xdrs, udt_dataType* value) {
  udt_charsAndShort& payload = value->value.charsAndShort;
  return filterNarrow(xdrs, &payload.char1) && filterNarrow(xdrs, &payload.char2) &&
         filterNarrow(xdrs, &payload.char3) && filterNarrow(xdrs, &payload.short1);
}

bool_t filterHandle(XDR* xdrs, udt_dataType* value) {
  return X_InteropHandle(xdrs, &value->value.handle);
}

bool_t filterTextWithInfo(XDR* xdrs, udt_dataType* value) {
  return X_udt_integer(xdrs, &value->textInfo) && X_stringUTF16(xdrs, &value->text);
}

bool_t filterReal(XDR* xdrs, udt_dataType* value) { return xdr_double(xdrs, &value->value.real); }

bool_t filterLongTriple(XDR* xdrs, udt_dataType* value) {
  udt_longTriple& triple = value->value.longTriple;
  return X_udt_integer(xdrs, &triple.first) && X_udt_integer(xdrs, &triple.third) &&
         X_udt_integer(xdrs, &triple.second);
}

bool_t filterLongsAndStrings(XDR* xdrs, udt_dataType* value) {
  udt_longsAndStrings& payload = value->value.longsAndStrings;
  return X_udt_integer(xdrs, &payload.first) && X_udt_integer(xdrs, &payload.second) &&
         X_OptionalString(xdrs, &payload.string1) && X_OptionalString(xdrs, &payload.string2);
}

bool_t filterShortAndChars(XDR* xdrs, udt_dataType* value) {
  udt_shortAndChars& payload = value->value.shortAndChars;
  return filterNarrow(xdrs, &payload.short1) && filterNarrow(xdrs, &payload.char1) &&
         filterNarrow(xdrs, &payload.char2);
}

bool_t filterText(XDR* xdrs, udt_dataType* value) { return X_stringUTF16(xdrs, &value->text); }

bool_t filterInteger(XDR* xdrs, udt_dataType* value) {
  return X_udt_boolean(xdrs, &value->value.integer);
}

constexpr UnionArm<udt_dataType> kArms[] = {
    {1, &filterLongPair},        {2, &filterCharsAndShort}, {3, &filterHandle},
    {4, &filterTextWithInfo},    {5, &filterReal},          {6, &filterLongTriple},
    {7, &filterLongsAndStrings}, {8, &filterShortAndChars}, {9, &filterLongPair},
    {10, &filterText},           {11, &filterInteger},      {12, &filterHandle},
};

}  // namespace

bool_t X_VornDataType(XDR* xdrs, udt_dataType* value) {
  std::int32_t kind = kNullDataValue;
  std::int32_t extra = 0;
  switch (xdrs->x_op) {
    case XDR_ENCODE:
    case XDR_FREE:
      if (value != nullptr) {
        kind = value->kind;
        extra = value->extra;
      }
      if (!X_udt_integer(xdrs, &kind) || !X_udt_integer(xdrs, &extra)) return FALSE;
      if (kind == kNullDataValue) return TRUE;
      break;
    case XDR_DECODE:
      if (value == nullptr) return FALSE;
      if (!X_udt_integer(xdrs, &kind) || !X_udt_integer(xdrs, &extra)) return FALSE;
      // The null value is stored too, so a free pass over a record goes on
      // past it to the values after it.
      value->kind = kind;
      value->extra = extra;
      if (kind == kNullDataValue) return TRUE;
      break;
  }
  const UnionArm<udt_dataType>* arm = selectArm(kArms, kind);
  return arm != nullptr ? arm->filter(xdrs, value) : FALSE;
}
