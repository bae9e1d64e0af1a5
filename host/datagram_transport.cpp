#include "host/datagram_transport.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "host/host_error.h"
#include "host/reply_encoding.h"

namespace {

// Room for any datagram; what can be sent is less.
constexpr std::size_t kReceiveBytes = 65536;
// The largest UDP payload over IPv4.
constexpr std::size_t kLargestReply = 65507;
// The runtime's transport gets a token buffer: it receives nothing itself.
constexpr u_int kRuntimeBufferBytes = 512;
// Replies kept for calls sent again: far more than a client has outstanding.
constexpr std::size_t kKeptReplies = 256;
// A call header is at least this long (xid, direction, RPC version, program).
constexpr ssize_t kShortestCall = 16;

}  // namespace

const TransportOperations DatagramTransport::kOperations = {
    .xp_recv = &DatagramTransport::receive,
    .xp_stat = &DatagramTransport::status,
    .xp_getargs = &DatagramTransport::getArguments,
    .xp_reply = &DatagramTransport::reply,
    .xp_freeargs = &freeDecodedArguments,
    .xp_destroy = &DatagramTransport::destroy,
};

DatagramTransport::DatagramTransport(int fd)
    : received_(kReceiveBytes), sending_(kLargestReply), replies_(kKeptReplies) {
  SVCXPRT* xprt = svc_dg_create(fd, kRuntimeBufferBytes, kRuntimeBufferBytes);
  if (xprt == nullptr) {
    close(fd);
    throw HostError("cannot create the UDP transport");
  }
  transport_.emplace(xprt, &kOperations, this);
  runtimeCaller_ = xprt->xp_rtaddr;
  xprt->xp_rtaddr = {sizeof caller_, 0, &caller_};
}

DatagramTransport::~DatagramTransport() { xprt()->xp_rtaddr = runtimeCaller_; }

bool_t DatagramTransport::receive(SVCXPRT* xprt, rpc_msg* message) {
  auto& self = BorrowedTransport::ownerOf<DatagramTransport>(xprt);
  iovec buffer{self.received_.data(), self.received_.size()};
  msghdr header{};
  header.msg_name = &self.caller_;
  header.msg_namelen = sizeof self.caller_;
  header.msg_iov = &buffer;
  header.msg_iovlen = 1;
  const ssize_t length = recvmsg(xprt->xp_fd, &header, MSG_DONTWAIT);
  if (length < kShortestCall || (header.msg_flags & MSG_TRUNC) != 0) return FALSE;

  xprt->xp_rtaddr.len = header.msg_namelen;
  const auto callerBytes = std::min<std::size_t>(header.msg_namelen, sizeof xprt->xp_raddr);
  std::memcpy(&xprt->xp_raddr, &self.caller_, callerBytes);
  xprt->xp_addrlen = static_cast<int>(callerBytes);

  xdrmem_create(&self.arguments_, self.received_.data(), static_cast<u_int>(length), XDR_DECODE);
  if (!xdr_callmsg(&self.arguments_, message)) return FALSE;
  ReplyCache::Call& call = self.call_;
  call = {message->rm_xid,
          static_cast<std::uint32_t>(message->rm_call.cb_prog),
          static_cast<std::uint32_t>(message->rm_call.cb_vers),
          static_cast<std::uint32_t>(message->rm_call.cb_proc),
          self.caller_,
          header.msg_namelen};
  if (const auto answered = self.replies_.find(call); !answered.empty()) {
    self.send(answered);
    return FALSE;  // answered already: not made again
  }
  return TRUE;
}

xprt_stat DatagramTransport::status(SVCXPRT*) { return XPRT_IDLE; }

bool_t DatagramTransport::getArguments(SVCXPRT* xprt, xdrproc_t filter, void* record) {
  return filter(&BorrowedTransport::ownerOf<DatagramTransport>(xprt).arguments_, record);
}

bool_t DatagramTransport::reply(SVCXPRT* xprt, rpc_msg* message) {
  auto& self = BorrowedTransport::ownerOf<DatagramTransport>(xprt);
  message->rm_xid = self.call_.xid;
  const std::size_t length = encodeReply(*message, self.sending_, 0, kLargestReply);
  if (length == 0) return FALSE;
  const std::span<const char> encoded(self.sending_.data(), length);
  try {
    self.replies_.keep(self.call_, encoded);
  } catch (const std::bad_alloc&) {
    // Not kept: a call sent again would be made again, as without the cache.
  }
  return self.send(encoded);
}

bool DatagramTransport::send(std::span<const char> reply) const {
  const ssize_t sent = sendto(xprt()->xp_fd, reply.data(), reply.size(), 0,
                              reinterpret_cast<const sockaddr*>(&caller_), call_.callerLength);
  return sent == static_cast<ssize_t>(reply.size());
}

// The runtime never ends a datagram transport by itself; qovixd ends it by
// destroying this object.
void DatagramTransport::destroy(SVCXPRT*) {}
