#pragma once

// Building and reading XDR bytes in tests.

#include <rpc/xdr.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xdr/xdr_filter.h"

using Bytes = std::vector<std::uint8_t>;

// Big-endian 4-byte words, as XDR sends them.
Bytes words(std::initializer_list<std::uint32_t> values);

// Concatenation, for building a call from parts.
Bytes operator+(Bytes left, const Bytes& right);

// An ONC RPC call message as a client sends it: transaction id, CALL, RPC
// version 2, program, version, procedure, empty credential and verifier,
// then the argument bytes.
Bytes callMessage(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                  std::uint32_t procedure, const Bytes& arguments = {});

// `message` with TCP record marking, in fragments of at most
// `fragmentBytes` (one fragment by default).
Bytes recordMarked(const Bytes& message, std::size_t fragmentBytes = SIZE_MAX);

// Lower-case hex with a space between words, for readable failure messages.
std::string hex(const Bytes& bytes);

// What `filter` encodes for `object`, or nothing when it fails.
std::optional<Bytes> encodeWith(xdrproc_t filter, void* object);

template <class T>
std::optional<Bytes> encode(bool_t (*filter)(XDR*, T*), T& object) {
  return encodeWith(toXdrProc(filter), &object);
}

// Decodes `bytes` into `object`; reports whether the filter succeeded and how
// many bytes it left unread.
struct DecodeOutcome {
  bool decoded;
  std::size_t bytesLeft;
};
DecodeOutcome decodeWith(xdrproc_t filter, void* object, const Bytes& bytes);

template <class T>
DecodeOutcome decode(bool_t (*filter)(XDR*, T*), T& object, const Bytes& bytes) {
  return decodeWith(toXdrProc(filter), &object, bytes);
}

// Runs `filter` in the free direction over `object`.
inline bool freeWith(XdrFilter filter, void* object) {
  XDR stream{};
  stream.x_op = XDR_FREE;
  return filter(&stream, object) != FALSE;
}

// Copies on the C heap, as a decode would leave them, for filling records.
char* heapString(std::string_view text);
char16_t* heapText(std::u16string_view text);

// Runs `filter` in the free direction over `object`.
template <class T>
bool freeWith(bool_t (*filter)(XDR*, T*), T& object) {
  XDR stream{};
  stream.x_op = XDR_FREE;
  return filter(&stream, &object) != FALSE;
}
