#include "host/reply_encoding.h"

namespace {

std::size_t encodeInto(rpc_msg& message, std::vector<char>& buffer, std::size_t offset) {
  XDR stream;
  xdrmem_create(&stream, buffer.data() + offset, static_cast<u_int>(buffer.size() - offset),
                XDR_ENCODE);
  return xdr_replymsg(&stream, &message) ? XDR_GETPOS(&stream) : 0;
}

}  // namespace

std::size_t encodeReply(rpc_msg& message, std::vector<char>& buffer, std::size_t offset,
                        std::size_t limit) {
  if (buffer.size() < offset) buffer.resize(offset);
  if (const std::size_t length = encodeInto(message, buffer, offset); length > 0) return length;

  // Too small, or not encodable at all: measure before growing, so a reply
  // that cannot be encoded never makes the buffer grow.
  const std::size_t needed = xdr_sizeof(reinterpret_cast<xdrproc_t>(&xdr_replymsg), &message);
  if (needed > buffer.size() - offset && needed <= limit) {
    buffer.resize(offset + needed);
    if (const std::size_t length = encodeInto(message, buffer, offset); length > 0) return length;
  }
  if (message.rm_reply.rp_stat != MSG_ACCEPTED || message.acpted_rply.ar_stat != SUCCESS) return 0;
  message.acpted_rply.ar_stat = SYSTEM_ERR;
  return encodeInto(message, buffer, offset);
}
