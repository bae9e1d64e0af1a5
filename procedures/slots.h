#pragma once

// Result slots beyond the plain ones. Every routine keeps one static slot of
// its own; these types are trivial, so a static slot is zero at load with no
// initialiser run.
//
//   handle             InteropHandle
//   truth, empty       udt_boolean
//   count              udt_integer
//   optional string    StringSlot
//   data value         udt_dataType (scalar form), HeldValue<V>, FreshValue<V>

#include <new>

#include "xdr/data_value.h"

// A data-value slot with the value object it was converted from, kept alive
// until the routine's next call; the object is built on first use and
// destroyed when the library is unloaded.
template <class V>
struct HeldValue {
  udt_dataType flat;
  alignas(V) unsigned char storage[sizeof(V)];
  bool built;

  V& value() { return *std::launder(reinterpret_cast<V*>(storage)); }
};

// A data-value slot with the heap value object its last call made (null
// before any), released by the next call, or when the library is unloaded.
template <class V>
struct FreshValue {
  udt_dataType flat;
  V* made;
  bool releasedAtExit;  // whether the unload action is registered
};

// An optional-string slot: the last copy made, released by the next call or
// when the library is unloaded.
struct StringSlot {
  char* text;
  bool releasedAtExit;
};
