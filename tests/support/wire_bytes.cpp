#include "tests/support/wire_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

Bytes words(std::initializer_list<std::uint32_t> values) {
  Bytes bytes;
  bytes.reserve(values.size() * 4);
  for (std::uint32_t value : values) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  }
  return bytes;
}

Bytes operator+(Bytes left, const Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

std::string hex(const Bytes& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    if (i != 0 && i % 4 == 0) text += ' ';
    text += digits;
  }
  return text;
}

std::optional<Bytes> encodeWith(xdrproc_t filter, void* object) {
  const unsigned long size = xdr_sizeof(filter, object);
  Bytes bytes(size);
  XDR stream;
  xdrmem_create(&stream, reinterpret_cast<char*>(bytes.data()), static_cast<u_int>(size),
                XDR_ENCODE);
  if (!filter(&stream, object)) return std::nullopt;
  bytes.resize(xdr_getpos(&stream));
  return bytes;
}

DecodeOutcome decodeWith(xdrproc_t filter, void* object, const Bytes& bytes) {
  XDR stream;
  // The runtime never writes through a decode stream's buffer.
  xdrmem_create(&stream, const_cast<char*>(reinterpret_cast<const char*>(bytes.data())),
                static_cast<u_int>(bytes.size()), XDR_DECODE);
  const bool decoded = filter(&stream, object) != FALSE;
  return {decoded, stream.x_handy};
}

char* heapString(std::string_view text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::copy(text.begin(), text.end(), copy);
  copy[text.size()] = '\0';
  return copy;
}

char16_t* heapText(std::u16string_view text) {
  auto* copy = static_cast<char16_t*>(std::calloc(text.size() + 1, sizeof(char16_t)));
  std::copy(text.begin(), text.end(), copy);
  return copy;
}

Bytes callMessage(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                  std::uint32_t procedure, const Bytes& arguments) {
  return words({xid, 0, 2, program, version, procedure, 0, 0, 0, 0}) + arguments;
}

Bytes recordMarked(const Bytes& message, std::size_t fragmentBytes) {
  Bytes wire;
  std::size_t at = 0;
  do {
    const std::size_t length = std::min(fragmentBytes, message.size() - at);
    const bool last = at + length == message.size();
    const Bytes mark = words({(last ? 0x80000000u : 0u) | static_cast<std::uint32_t>(length)});
    wire.insert(wire.end(), mark.begin(), mark.end());
    wire.insert(wire.end(), message.begin() + static_cast<long>(at),
                message.begin() + static_cast<long>(at + length));
    at += length;
  } while (at < message.size());
  return wire;
}
