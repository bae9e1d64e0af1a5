#include "xdr/decode_bound.h"

#include <algorithm>

#include "xdr/wire_types.h"

namespace {

// The runtime's in-memory streams come in two flavours (aligned and unaligned
// buffers); both keep the count of bytes left in `x_handy`.
struct MemoryStreamOps {
  decltype(XDR::x_ops) aligned;
  decltype(XDR::x_ops) unaligned;
};

MemoryStreamOps probeMemoryStreamOps() {
  alignas(std::uint32_t) char buffer[8] = {};
  XDR aligned;
  XDR unaligned;
  xdrmem_create(&aligned, buffer, 4, XDR_DECODE);
  xdrmem_create(&unaligned, buffer + 1, 4, XDR_DECODE);
  return {aligned.x_ops, unaligned.x_ops};
}

}  // namespace

std::uint32_t decodableBytesLeft(const XDR* xdrs) {
  static const MemoryStreamOps memoryStream = probeMemoryStreamOps();
  if (xdrs->x_ops == memoryStream.aligned || xdrs->x_ops == memoryStream.unaligned) {
    return std::min<std::uint32_t>(xdrs->x_handy, kMaxCallRecordBytes);
  }
  return kMaxCallRecordBytes;
}
