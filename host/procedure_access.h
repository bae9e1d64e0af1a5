#pragma once

// What the host must know of each model procedure before the library sees
// a call: whether it writes (a principal with read access may not call it)
// and which fields of its argument record are handles (a principal may name
// only its own). Generated from the catalogue (procedure_access.cpp).

#include <cstdint>

namespace procedure_access {

struct Row {
  bool writes;
  const char* fields;  // the record's fields in order: H handle, V value, L long, I int
};

// The procedure's row; null for a number the class does not serve.
const Row* find(std::uint32_t classNumber, std::uint32_t procedure);

}  // namespace procedure_access
