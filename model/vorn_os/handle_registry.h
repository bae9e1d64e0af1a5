#pragma once

// The handle registry: every object, collection or repository object a
// client may name is registered under a handle, a 32-bit number that is
// never 0 and, once dropped, not valid again for at least 16,777,216 later
// registrations (handle_registry.cpp says how).
//
// The four calls the server routines use come first. The rest is what the
// routines, the host and tools need besides: looking an entry up by class
// (so that an object of another class is treated like an invalid handle),
// releasing what an entry names, and counting.
//
// One thread at a time, like the server that uses it.

#include <cstddef>
#include <span>
#include <string_view>
#include <typeinfo>

#include "model/wkm_srv/VornObject.h"
#include "model/wkm_srv/collections.h"

#define VORN_OS_API __attribute__((visibility("default")))

// Non-zero when `handle` names a registered entry.
VORN_OS_API int okHandle(unsigned long handle);

// View 0: the registered object; view 1: its VornPersistentObject part (null
// for entries registered without one). Null for an invalid handle.
VORN_OS_API void* getObject(unsigned long handle, short view);

// Registers an entry and returns its new handle (0 when the registry is
// full or out of memory). A model object comes with its VornObject and
// VornPersistentObject parts; an object that is no persistent object (the
// repository object) with its VornObject part alone; a collection with
// both parts null, `object` then being its VornCollection.
VORN_OS_API unsigned long getHandle(void* object, void* objectPart, void* persistentPart);

// Drops the handle without touching what it names. Returns 1 when the handle
// was valid, 0 otherwise.
VORN_OS_API int deleteHandle(unsigned long handle);

namespace vorn_os {

// The VornObject part of an entry, or null (invalid handle, or a collection).
VORN_OS_API VornObject* objectPart(unsigned long handle);

// The collection an entry names, or null (invalid handle, or no collection).
VORN_OS_API VornCollection* collection(unsigned long handle);

// The registered object if it is exactly of class C, else null: a handle of
// another class counts as invalid.
template <class C>
C* lookup(unsigned long handle) {
  VornObject* part = objectPart(handle);
  return part != nullptr && typeid(*part) == typeid(C) ? static_cast<C*>(part) : nullptr;
}

// The registered collection if it is exactly of type C, else null.
template <class C>
C* lookupCollection(unsigned long handle) {
  VornCollection* held = collection(handle);
  return held != nullptr && typeid(*held) == typeid(C) ? static_cast<C*>(held) : nullptr;
}

// Deletes what the entry names (through its virtual destructor) and drops
// the handle. Returns 0 for an invalid handle.
VORN_OS_API int releaseHandle(unsigned long handle);

// How many handles are registered now.
VORN_OS_API std::size_t handleCount();

// Releases every entry, as releaseHandle does; what the registry still holds
// when its owner stops. Returns how many there were.
VORN_OS_API std::size_t releaseAll();

// Whom the next registrations are for: a client's name (its principal),
// or empty for the process itself. A client holds at most the most set here
// (no cap until one is set); the process has no cap. Over that, getHandle
// gives 0. A caller whose name cannot be noted (no memory) is nobody: it
// sees no handle and registers none.
VORN_OS_API void setCaller(std::string_view caller);
VORN_OS_API void setMostHandlesPerCaller(std::size_t most);

// Scoped, a client sees only the handles registered for it: to every call
// made for another, they are as invalid as an unknown number. The process
// itself sees all of them.
VORN_OS_API void setScoped(bool scoped);

// How many handles the caller holds (all of them, for the process).
VORN_OS_API std::size_t handleCountOfCaller();

// Registers, for the caller, a handle to an object someone else owns:
// releasing it drops the handle and deletes nothing (a client's own handle
// to the repository object).
VORN_OS_API unsigned long borrowedHandle(void* object, void* objectPart);

// Releases every handle the named client holds; how many there were.
VORN_OS_API std::size_t releaseAllOf(std::string_view caller);

// Releases every handle, whoever holds it, whose surrogate names one of the
// objects `ids` of `store` (objects deleted from the repository, which the
// surrogates would name no more); how many there were. Found through an
// index of the surrogates registered, by the object each named when it was
// registered, or when refile was last told of it: the cost is in
// proportion to what is released.
VORN_OS_API std::size_t releaseNaming(const PersistentStore& store, std::span<const ObjectId> ids);
// Files the handle's surrogate anew under the object it names now, after an
// assignment pointed it elsewhere (operatorAssign_0 tells it).
VORN_OS_API void refile(unsigned long handle);

// The handles one call registers, noted from startCall() to endCall(), so
// that a call whose changes are undone can release them too: they would
// name objects that no longer exist.
VORN_OS_API void startCall();
VORN_OS_API void releaseMadeThisCall();
VORN_OS_API void endCall();
// A call whose commit waits for the calls after it (a group commit): its
// handles are kept aside until the commit is known, then kept with it, or
// released when it failed. Throws std::bad_alloc (nothing is kept aside).
VORN_OS_API void holdMadeThisCall();
VORN_OS_API void settleHeldCalls(bool kept);

}  // namespace vorn_os
