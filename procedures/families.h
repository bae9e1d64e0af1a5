#pragma once

// The routine families. Every server routine is a one-line use of one of
// these with its own static slot:
//
//   void* QOVIXTaggedValue_get_tag_0(void* argp) {
//     static HeldValue<QOVIXName> slot;
//     return heldValue<&QOVIXTaggedValue::get_tag, InteropHandle>(slot, argp);
//   }
//
// A routine resolves its arguments in record order (qovix::Call); a handle
// that names nothing of the parameter's class, or a value that cannot be
// converted to the parameter's class, ends it without calling the model and
// the slot keeps what it held. Every routine returns its slot's address. No
// routine catches an exception: one from the model passes on, after the
// routine has released what it converted and freed what it was building.

#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "dispatch/at_exit_list.h"
#include "procedures/arguments.h"
#include "procedures/slots.h"

namespace qovix {

// Registers a new object and stores its handle in the slot: a model object
// with its two base parts, a collection with none. When the registry cannot
// take it (full, or the caller holds its most handles), the object is
// deleted and the call fails: its reply is the system error, the slot keeps
// what it held, and what the call made in the repository is undone. Never
// another object's handle, and never an object that no handle names.
template <class T>
void registerResult(InteropHandle& slot, T* made) {
  unsigned long handle = 0;
  if constexpr (isCollection<T>) {
    handle = getHandle(static_cast<VornCollection*>(made), nullptr, nullptr);
  } else {
    handle =
        getHandle(made, static_cast<VornObject*>(made), static_cast<VornPersistentObject*>(made));
  }
  if (handle == 0) {
    delete made;
    throw std::runtime_error("no handle can be given: the registry is full, or the caller holds its most");
  }
  slot = static_cast<InteropHandle>(handle);
}

// create_0: a new object made by the default constructor.
template <class C>
void* createDefault(InteropHandle& slot) {
  if (C* made = new (std::nothrow) C()) registerResult(slot, made);
  return &slot;
}

// create_1: a new object in the repository the handle names.
template <class C>
void* createInRepository(InteropHandle& slot, void* argp) {
  Argument<VORN&> repository;
  if (!repository.take(*static_cast<InteropHandle*>(argp))) return &slot;
  if (C* made = new (std::nothrow) C(repository.get())) registerResult(slot, made);
  return &slot;
}

// create_2: a new object made by the flagged copy constructor.
template <class C>
void* createCopy(InteropHandle& slot, void* argp) {
  auto& record = *static_cast<HandleInt*>(argp);
  Argument<C const&> source;
  if (!source.take(record.target)) return &slot;
  if (C* made = new (std::nothrow) C(source.get(), record.param1)) registerResult(slot, made);
  return &slot;
}

// destroy_0: deletes the object and drops its handle.
template <class C>
void* destroyObject(udt_boolean& slot, void* argp) {
  const InteropHandle handle = *static_cast<InteropHandle*>(argp);
  C* object = vorn_os::lookup<C>(handle);
  if (object == nullptr) return &slot;
  delete object;
  deleteHandle(handle);
  return &slot;
}

// operatorAssign_0: the target names what the source names; the slot gets
// the target's handle.
template <class C>
void* assignObject(InteropHandle& slot, void* argp) {
  auto& record = *static_cast<HandleHandle*>(argp);
  Argument<C&> target;
  Argument<C const&> source;
  if (!target.take(record.target) || !source.take(record.param1)) return &slot;
  target.get() = source.get();
  vorn_os::refile(record.target);  // it names another object now
  slot = record.target;
  return &slot;
}

inline void releaseString(void* slot) {
  auto* string = static_cast<StringSlot*>(slot);
  delete[] string->text;
  string->text = nullptr;
}

// className_0, modelPrefix_0: a copy of the static text, or null for none.
// The encoder reads the slot's first member, the string pointer.
template <auto Name>
void* copyName(StringSlot& slot) {
  releaseString(&slot);
  const char* name = Name();
  if (name == nullptr) return &slot.text;
  const std::size_t length = std::strlen(name);
  if (char* copy = new (std::nothrow) char[length + 1]) {
    std::memcpy(copy, name, length + 1);
    slot.text = copy;
    if (!slot.releasedAtExit) slot.releasedAtExit = registerAtExit(&releaseString, &slot);
  }
  return &slot.text;
}

// A member that gives an object or a collection: it is built in new memory
// and registered. With `MustBeValid` (duplicate_0) a result that is not
// valid is deleted, not registered.
template <auto Function, class Record, bool MustBeValid = false>
void* newObject(InteropHandle& slot, void* argp) {
  using Result = typename Call<Function, Record>::Result;
  Call<Function, Record> call(*static_cast<Record*>(argp));
  if (!call.resolved()) return &slot;
  // Owned until registered: the validity test reads the repository, which
  // can throw.
  std::unique_ptr<Result> made(new (std::nothrow) Result(call.invoke()));
  if (made == nullptr) return &slot;
  if constexpr (MustBeValid) {
    if (made->isValid() == 0) return &slot;
  }
  registerResult(slot, made.release());
  return &slot;
}

// A member that gives an int or a long (isNull, contains, size).
template <auto Function, class Record, class Slot>
void* storeResult(Slot& slot, void* argp) {
  Call<Function, Record> call(*static_cast<Record*>(argp));
  if (call.resolved()) slot = call.invoke();
  return &slot;
}

// A member that gives nothing (setters, adds, removes, flushes, construct).
template <auto Function, class Record>
void* callMember(udt_boolean& slot, void* argp) {
  Call<Function, Record> call(*static_cast<Record*>(argp));
  if (call.resolved()) call.invoke();
  return &slot;
}

template <class V>
void destroyHeld(void* slot) {
  static_cast<HeldValue<V>*>(slot)->value().~V();
}

template <class V>
void buildHeld(HeldValue<V>& slot) {
  if (slot.built) return;
  new (slot.storage) V();
  slot.built = true;
  registerAtExit(&destroyHeld<V>, &slot);
}

// Held form (getters of text values): the value last read stays in the
// slot's value object, built with the class's default on the first call, so
// a call that names no object repeats it.
template <auto Function, class Record, class V>
void* heldValue(HeldValue<V>& slot, void* argp) {
  buildHeld(slot);
  Call<Function, Record> call(*static_cast<Record*>(argp));
  if (call.resolved()) slot.value() = call.invoke();
  slot.flat = dataTypeToStruct(&slot.value());
  return &slot;
}

// Held form built on the first call that names an object (the by-index
// getter of a list of values): before any, the slot stays cleared, which is
// no data value and makes the reply a system error.
template <auto Function, class Record, class V>
void* heldValueOnceNamed(HeldValue<V>& slot, void* argp) {
  Call<Function, Record> call(*static_cast<Record*>(argp));
  if (!call.resolved()) return &slot;
  buildHeld(slot);
  slot.value() = call.invoke();
  slot.flat = dataTypeToStruct(&slot.value());
  return &slot;
}

// Scalar form (getters of Boolean, integer and enumeration values): a local
// value; a call that names no object gives the class's default.
template <auto Function, class Record>
void* scalarValue(udt_dataType& slot, void* argp) {
  using V = typename Call<Function, Record>::Result;
  V value;
  Call<Function, Record> call(*static_cast<Record*>(argp));
  if (call.resolved()) value = call.invoke();
  slot = dataTypeToStruct(&value);
  return &slot;
}

// Fresh form (class operations that give a value): the previous call's
// object is released first; a call that cannot go ahead gives the default.
template <class V>
void releaseFresh(void* slot) {
  auto* fresh = static_cast<FreshValue<V>*>(slot);
  delete fresh->made;
  fresh->made = nullptr;
}

template <auto Function, class Record, class V>
void* freshValue(FreshValue<V>& slot, void* argp) {
  releaseFresh<V>(&slot);
  {
    V defaultValue;
    slot.flat = dataTypeToStruct(&defaultValue);  // refers to nothing of it
  }
  Call<Function, Record> call(*static_cast<Record*>(argp));
  if (!call.resolved()) return &slot;
  slot.made = new (std::nothrow) V(call.invoke());
  if (slot.made == nullptr) return &slot;
  slot.flat = dataTypeToStruct(slot.made);
  if (!slot.releasedAtExit) slot.releasedAtExit = registerAtExit(&releaseFresh<V>, &slot);
  return &slot;
}

}  // namespace qovix
