#pragma once

// How filters are stored and handed to the ONC RPC runtime.
//
// Our filters are typed, `bool_t (XDR*, T*)`. Tables store them untyped as
// XdrFilter through a one-line trampoline, which keeps the tables constant
// data; the runtime takes them as its `xdrproc_t`, converted in one place.

#include <rpc/xdr.h>

using XdrFilter = bool_t (*)(XDR* xdrs, void* object);

template <auto Filter>
struct UntypedFilter;

template <class T, bool_t (*Filter)(XDR*, T*)>
struct UntypedFilter<Filter> {
  static bool_t apply(XDR* xdrs, void* object) { return Filter(xdrs, static_cast<T*>(object)); }
};

// The untyped form of a typed filter, usable in constant tables.
template <auto Filter>
inline constexpr XdrFilter untypedFilter = &UntypedFilter<Filter>::apply;

// Filters nothing: the arguments or result of a procedure that has none.
inline bool_t voidFilter(XDR*, void*) { return TRUE; }

// The runtime calls every filter through its own `xdrproc_t` type.
inline xdrproc_t toXdrProc(XdrFilter filter) { return reinterpret_cast<xdrproc_t>(filter); }

template <class T>
xdrproc_t toXdrProc(bool_t (*filter)(XDR*, T*)) {
  return reinterpret_cast<xdrproc_t>(filter);
}
