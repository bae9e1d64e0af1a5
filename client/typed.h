#pragma once

// What the generated typed calls (client_model.h) are made of: handles typed
// by the class they name, and conversions between natural C++ values and
// data values. A handle of one class cannot be passed where another class is
// expected; cast it first (each class's `cast`).

#include <cstdint>
#include <string>
#include <string_view>

#include "connection.h"

namespace qovix::client {

// A handle naming an object of the class `Tag` stands for.
template <class Tag>
struct Ref {
  std::uint32_t handle = 0;
  explicit operator bool() const { return handle != 0; }
};

// Handles of collections, by kind and element class.
template <class Tag>
struct SetRef {
  std::uint32_t handle = 0;
};
template <class Tag>
struct ListRef {
  std::uint32_t handle = 0;
};
template <class Tag>
struct ArrayRef {
  std::uint32_t handle = 0;
};

// The repository, and a metamodel.
struct RepositoryRef {
  std::uint32_t handle = 0;
};
struct MetaModelRef {
  std::uint32_t handle = 0;
};

// Any object, whatever its class: what a cast takes.
struct AnyRef {
  std::uint32_t handle = 0;
  AnyRef() = default;
  explicit AnyRef(std::uint32_t raw) : handle(raw) {}
  template <class Tag>
  AnyRef(Ref<Tag> ref) : handle(ref.handle) {}  // NOLINT: any class converts
};

// Deletes the object from the repository (Connection::deleteObject); how
// many objects went.
template <class Tag>
std::int32_t deleteObject(Connection& connection, Ref<Tag> object) {
  return connection.deleteObject(object.handle);
}

Field textField(std::int32_t valueClass, std::string_view utf8);
Field numberField(std::int32_t valueClass, std::int32_t number);

// A data-value result as a natural value; Error(UnexpectedReply) when it is
// of another class (or the null value).
std::string textOf(const Result& result, std::int32_t valueClass);
std::int32_t numberOf(const Result& result, std::int32_t valueClass);

}  // namespace qovix::client
