#pragma once

// What the host program offers clients besides the model: the repository's
// handle, and housekeeping of handles, which the model's procedures never
// release and cannot look into.

#include <string>

#include "xdr/wire_types.h"

namespace host_services {

// Deletes what `handle` names and drops it; 0 for an invalid handle or for
// `keep` (the repository), which clients cannot release.
udt_boolean release(InteropHandle handle, InteropHandle keep);

// The number of members of a collection or array; -1 for anything else.
udt_integer size(InteropHandle handle);

// A new registered object of the element class on the member at `index`; 0
// when `handle` names no collection or the index is outside it.
InteropHandle element(InteropHandle handle, udt_integer index);

// What a handle names: a model class ("QOVIXClass"), a collection
// ("VornSet<QOVIXClass>"), the repository ("VORN"); empty when invalid.
std::string className(InteropHandle handle);

udt_integer handleCount();

// Which persistent object a handle's surrogate names: its number and the
// class it was created as; (0, 0) when it names none.
struct Identity {
  InteropHandle object;
  udt_integer classNumber;
};
Identity identity(InteropHandle handle);

}  // namespace host_services
