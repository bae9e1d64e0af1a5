#pragma once

// Discriminated unions in the manner of the runtime's xdr_union: a table of
// arms, each pairing a discriminant value with the filter of its payload.
// There is no default arm: an unknown discriminant fails.

#include <rpc/xdr.h>

#include <cstddef>
#include <cstdint>

template <class Payload>
struct UnionArm {
  std::int32_t discriminant;
  bool_t (*filter)(XDR* xdrs, Payload* payload);
};

// The arm for `discriminant`, or null when the table has none.
template <class Payload, std::size_t N>
const UnionArm<Payload>* selectArm(const UnionArm<Payload> (&arms)[N], std::int32_t discriminant) {
  for (const UnionArm<Payload>& arm : arms) {
    if (arm.discriminant == discriminant) return &arm;
  }
  return nullptr;
}

// Filters the discriminant word, then the payload through the arm it selects.
template <class Payload, std::size_t N>
bool_t filterUnion(XDR* xdrs, std::int32_t* discriminant, Payload* payload,
                   const UnionArm<Payload> (&arms)[N]) {
  if (!xdr_int32_t(xdrs, discriminant)) return FALSE;
  const UnionArm<Payload>* arm = selectArm(arms, *discriminant);
  return arm != nullptr ? arm->filter(xdrs, payload) : FALSE;
}
