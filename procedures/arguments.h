#pragma once

// Turning an argument record's fields into a model member's arguments, in
// record order: a handle becomes the object it names (of exactly the class
// the parameter takes, or the call is treated as naming no object), a data
// value becomes a value object of exactly the parameter's class (or the call
// is treated as unconvertible), a long or an int passes as it is. The first
// field that fails ends the resolution; value objects converted so far are
// released when the Call goes, even when the member throws.

#include <memory>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "model_classes.h"
#include "model/vorn_os/handle_registry.h"
#include "model/wkm_os/value_converter.h"
#include "xdr/argument_records.h"

namespace qovix {

// The fields of an argument record, by position: 0 is `target`. A procedure
// whose only argument is a handle has that handle as its one field.
template <std::size_t I, class Record>
auto& recordField(Record& record) {
  if constexpr (std::is_same_v<Record, InteropHandle>) {
    static_assert(I == 0, "a single handle has one field");
    return record;
  } else if constexpr (I == 0) {
    return record.target;
  } else if constexpr (I == 1) {
    return record.param1;
  } else if constexpr (I == 2) {
    return record.param2;
  } else {
    return record.param3;
  }
}

struct FreeConverted {
  void operator()(VornDataType* value) const { freeObject(value); }
};
using ConvertedValue = std::unique_ptr<VornDataType, FreeConverted>;

template <class T>
inline constexpr bool isModelObject = std::is_base_of_v<VornPersistentObject, T>;
template <class T>
inline constexpr bool isDataValue = std::is_base_of_v<VornDataType, T>;
template <class T>
inline constexpr bool isCollection = std::is_base_of_v<VornCollection, T>;

// One argument of parameter type P, taken from its record field.
template <class P, class Enable = void>
struct Argument;

// A model object, a collection or the repository object, by reference.
template <class P>
struct Argument<P,
                std::enable_if_t<std::is_reference_v<P> && !isDataValue<std::remove_cvref_t<P>> &&
                                 !std::is_same_v<std::remove_cvref_t<P>, VornPersistentObject>>> {
  using Object = std::remove_cvref_t<P>;
  Object* object = nullptr;

  bool take(InteropHandle handle) {
    if constexpr (isCollection<Object>) {
      object = vorn_os::lookupCollection<Object>(handle);
    } else {
      object = vorn_os::lookup<Object>(handle);
    }
    return object != nullptr;
  }
  P get() { return *object; }
};

// Any persistent object, whatever its class (the cast's argument).
template <>
struct Argument<VornPersistentObject const&> {
  VornPersistentObject* object = nullptr;

  bool take(InteropHandle handle) {
    object = static_cast<VornPersistentObject*>(getObject(handle, 1));
    return object != nullptr;
  }
  VornPersistentObject const& get() { return *object; }
};

// A data value: by value of exactly its class, or by constant reference to
// its class or a class derived from it (the text of finds, as VornString).
template <class P>
struct Argument<P, std::enable_if_t<isDataValue<std::remove_cvref_t<P>>>> {
  using Value = std::remove_cvref_t<P>;
  ConvertedValue converted;
  Value* typed = nullptr;

  bool take(udt_dataType& field) {
    converted.reset(structToDataType(&field));
    if (!converted) return false;
    if constexpr (std::is_reference_v<P>) {
      typed = dynamic_cast<Value*>(converted.get());
    } else {
      VornDataType& value = *converted;
      if (typeid(value) == typeid(Value)) typed = static_cast<Value*>(&value);
    }
    return typed != nullptr;
  }
  // A by-value parameter gets a copy made with its class's copy constructor.
  P get() { return *typed; }
};

// A long or an int.
template <>
struct Argument<std::int32_t> {
  std::int32_t number = 0;

  bool take(std::int32_t field) {
    number = field;
    return true;
  }
  std::int32_t get() { return number; }
};

// What a member pointer or function pointer takes and gives.
template <class M>
struct Member;

template <class C, class R, class... P>
struct Member<R (C::*)(P...)> {
  using Class = C;
  using Result = R;
  using Parameters = std::tuple<P...>;
  static constexpr bool onObject = true;
};

template <class C, class R, class... P>
struct Member<R (C::*)(P...) const> : Member<R (C::*)(P...)> {};

template <class R, class... P>
struct Member<R (*)(P...)> {
  using Class = void;
  using Result = R;
  using Parameters = std::tuple<P...>;
  static constexpr bool onObject = false;
};

// The object a member is called on; a static member has none.
struct NoObject {};
template <class C>
struct ObjectArgumentOf {
  using Type = Argument<C&>;
};
template <>
struct ObjectArgumentOf<void> {
  using Type = NoObject;
};

// A member call with its arguments resolved from a record: the object (for
// a member called on one, from field 0) and then each parameter from the
// following fields.
template <auto Function, class Record>
class Call {
  using Traits = Member<decltype(Function)>;
  using Parameters = typename Traits::Parameters;
  static constexpr std::size_t kFirstParameterField = Traits::onObject ? 1 : 0;
  static constexpr std::size_t kParameters = std::tuple_size_v<Parameters>;

  template <class Tuple>
  struct Holders;
  template <class... P>
  struct Holders<std::tuple<P...>> {
    using Type = std::tuple<Argument<P>...>;
  };

 public:
  using Result = typename Traits::Result;

  explicit Call(Record& record) {
    resolved_ = resolveAll(record, std::make_index_sequence<kParameters>());
  }

  bool resolved() const { return resolved_; }

  // Calls the member; only after resolved() said yes.
  Result invoke() { return invokeWith(std::make_index_sequence<kParameters>()); }

 private:
  template <std::size_t... I>
  bool resolveAll(Record& record, std::index_sequence<I...>) {
    if constexpr (Traits::onObject) {
      if (!object_.take(recordField<0>(record))) return false;
    }
    return (std::get<I>(holders_).take(recordField<I + kFirstParameterField>(record)) && ...);
  }

  template <std::size_t... I>
  Result invokeWith(std::index_sequence<I...>) {
    if constexpr (Traits::onObject) {
      return (object_.object->*Function)(std::get<I>(holders_).get()...);
    } else {
      return Function(std::get<I>(holders_).get()...);
    }
  }

  typename ObjectArgumentOf<typename Traits::Class>::Type object_;
  typename Holders<Parameters>::Type holders_;
  bool resolved_ = false;
};

}  // namespace qovix
