#pragma once

// What a call takes and answers, as a Connection (connection.h) sends and
// reads it: the transport, the fields of an argument record in wire order,
// and the result. Installed with the client library's headers.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace qovix::client {

enum class Transport { Tcp, Udp };

// A data value: its value-class number and its payload (text or number).
struct Value {
  std::int32_t valueClass = 0;
  bool isText = false;
  std::u16string text;
  std::int32_t number = 0;

  static Value ofText(std::int32_t valueClass, std::u16string text);
  static Value ofNumber(std::int32_t valueClass, std::int32_t number);
};

// One field of an argument record, in wire order. A handle may say the
// class it must name, as the host's class-name service writes it
// ("QOVIXNamespace", "VORN", "VornSet<QOVIXModelElement>"), for checks.
struct Field {
  enum class Kind { Handle, Word, Value, Hyper, Bytes } kind;
  std::uint32_t word = 0;
  Value value;
  const char* expectedClass = nullptr;
  std::uint64_t wide = 0;  // a hyper: a commit's sequence number
  std::string bytes = {};  // opaque bytes: a name, a chunk of a document

  static Field handle(std::uint32_t handle, const char* expectedClass = nullptr) {
    return {Kind::Handle, handle, {}, expectedClass};
  }
  static Field number(std::int32_t number) {
    return {Kind::Word, static_cast<std::uint32_t>(number), {}};
  }
  static Field of(Value value) { return {Kind::Value, 0, std::move(value)}; }
  static Field hyper(std::uint64_t number) { return {Kind::Hyper, 0, {}, nullptr, number}; }
  static Field of(std::string bytes) { return {Kind::Bytes, 0, {}, nullptr, 0, std::move(bytes)}; }
};

// What a call answers; Pair is a handle and a long (host identity).
enum class ResultKind { Void, Handle, Int, Long, OptionalString, DataValue, Pair };

struct Result {
  ResultKind kind = ResultKind::Void;
  std::uint32_t handle = 0;
  std::int32_t number = 0;
  std::optional<std::string> text;  // an optional string
  std::optional<Value> value;       // a data value; empty for the null value
};

}  // namespace qovix::client
