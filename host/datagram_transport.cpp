#include "host/datagram_transport.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "host/host_error.h"
#include "host/reply_encoding.h"
#include "host/serving_context.h"

namespace {

// Room for any datagram; what can be sent is less.
constexpr std::size_t kReceiveBytes = 65536;
// The largest UDP payload over IPv4.
constexpr std::size_t kLargestReply = 65507;
// The runtime's transport gets a token buffer: it receives nothing it
constexpr u_int kRuntimeBufferBytes = 512;
// Replies kept for calls sent again: far more than a client has outstanding.
constexpr std::size_t kKeptReplies = 256;
// A call header is at least this long (xid, direction, RPC version, program).
constexpr ssize_t kShortestCall = 16;

}  // namespace

DatagramTransport::DatagramTransport(int fd, std::size_t mostReplyBytes, ServingContext* serving)
    : mostReplyBytes_(std::min(mostReplyBytes, kLargestReply)),
      serving_(serving),
      received_(kReceiveBytes),
      sending_(mostReplyBytes_),
      replies_(kKeptReplies) {
  SVCXPRT* xprt = svc_dg_create(fd, kRuntimeBufferBytes, kRuntimeBufferBytes);
  if (xprt == nullptr) {
    close(fd);
    throw HostError("cannot create the UDP transport");
  }
  transport_.emplace(xprt, this);
  runtimeCaller_ = xprt->xp_rtaddr;
  xprt->xp_rtaddr = {sizeof caller_, 0, &caller_};
}

DatagramTransport::~DatagramTransport() { xprt()->xp_rtaddr = runtimeCaller_; }

bool_t DatagramTransport::receive(rpc_msg* message) {
  SVCXPRT* transport = xprt();
  iovec buffer{received_.data(), received_.size()};
  msghdr header{};
  header.msg_name = &caller_;
  header.msg_namelen = sizeof caller_;
  header.msg_iov = &buffer;
  header.msg_iovlen = 1;
  const ssize_t length = recvmsg(transport->xp_fd, &header, MSG_DONTWAIT);
  if (length < kShortestCall || (header.msg_flags & MSG_TRUNC) != 0) return FALSE;

  transport->xp_rtaddr.len = header.msg_namelen;
  const auto callerBytes = std::min<std::size_t>(header.msg_namelen, sizeof transport->xp_raddr);
  std::memcpy(&transport->xp_raddr, &caller_, callerBytes);
  transport->xp_addrlen = static_cast<int>(callerBytes);

  xdrmem_create(&arguments_, received_.data(), static_cast<u_int>(length), XDR_DECODE);
  if (!xdr_callmsg(&arguments_, message)) return FALSE;
  call_ = {message->rm_xid,
           static_cast<std::uint32_t>(message->rm_call.cb_prog),
           static_cast<std::uint32_t>(message->rm_call.cb_vers),
           static_cast<std::uint32_t>(message->rm_call.cb_proc),
           caller_,
           header.msg_namelen};
  if (const auto answered = replies_.find(call_); !answered.empty()) {
    send(answered);
    return FALSE;  // answered already: not made again
  }
  return TRUE;
}

bool_t DatagramTransport::reply(rpc_msg* message) {
  message->rm_xid = call_.xid;
  std::size_t length = encodeReply(*message, sending_, 0, mostReplyBytes_);
  // A datagram's reply leaves at once: what it changed, and what it may
  // have read, is committed first.
  if (serving_ != nullptr &&
      serving_->settleBeforeReply(message) == ServingContext::Settlement::Failed) {
    length = encodeReply(*message, sending_, 0, mostReplyBytes_);
  }
  if (length == 0) return FALSE;
  const std::span<const char> encoded(sending_.data(), length);
  try {
    replies_.keep(call_, encoded);
  } catch (const std::bad_alloc&) {
    // Not kept: a call sent again would be made again, as without the cache.
  }
  return send(encoded);
}

bool DatagramTransport::send(std::span<const char> reply) const {
  const ssize_t sent = sendto(xprt()->xp_fd, reply.data(), reply.size(), 0,
                              reinterpret_cast<const sockaddr*>(&caller_), call_.callerLength);
  return sent == static_cast<ssize_t>(reply.size());
}
