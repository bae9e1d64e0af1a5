#pragma once

// Model objects and their handles, as the host's services meet them.

#include "host/host_call.h"
#include "store/persistent_store.h"
#include "xdr/wire_types.h"

class VornPersistentObject;

namespace host_procedures {

// The model object a handle names; null for none (or another principal's,
// where handles are scoped), or the repository's handle.
const VornPersistentObject* modelObjectOf(HostCall& call, InteropHandle handle);

// A new handle to the object, of the class it was created as; 0 when none
// can be registered.
InteropHandle handleOf(PersistentStore& store, ObjectId id);

// The store the server keeps; throws when it keeps none.
PersistentStore& storeOf(HostCall& call);

}  // namespace host_procedures
