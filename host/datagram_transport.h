#pragma once

// qovixd's UDP transport. The runtime's own datagram transport decodes
// arguments from a buffer sized for the largest datagram, so a call whose
// arguments stop short is completed with whatever an earlier datagram left
// there. This one receives into its own buffer and decodes arguments from
// exactly the bytes that arrived: a short call is garbage arguments. A reply
// larger than its bound (a few KiB, so that a small forged call cannot draw
// a large reply to someone else) is answered as a system error instead, and
// the call's changes are undone: the caller may make it again over TCP. A
// call sent again after its reply was lost is answered with that reply, not
// made twice (ReplyCache).

#include <rpc/rpc.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "host/borrowed_transport.h"
#include "host/call_site.h"
#include "host/reply_cache.h"

class DatagramTransport final : public CallSite {
 public:
  // Takes over `fd`, a bound UDP socket, which is closed with the transport;
  // replies are at most `mostReplyBytes` (and never more than a datagram).
  // Its calls are served by `serving` (null: none is). Throws HostError when
  // the runtime cannot make a transport of it.
  DatagramTransport(int fd, std::size_t mostReplyBytes, ServingContext* serving);
  ~DatagramTransport();
  DatagramTransport(const DatagramTransport&) = delete;
  DatagramTransport& operator=(const DatagramTransport&) = delete;

  SVCXPRT* xprt() const { return transport_->get(); }

  // A datagram's call is made for the address it came from.
  ServingContext* serving() const override { return serving_; }
  Principal principal() const override { return peerPrincipal(xprt()); }

 private:
  friend class TransportOperationsOf<DatagramTransport>;
  bool_t receive(rpc_msg* message);
  xprt_stat status() const { return XPRT_IDLE; }
  bool_t getArguments(xdrproc_t filter, void* record) { return filter(&arguments_, record); }
  bool_t reply(rpc_msg* message);
  // The runtime never ends a datagram transport by itself; qovixd ends it
  // by destroying this object.
  void endedByRuntime() {}

  bool send(std::span<const char> reply) const;

  std::optional<BorrowedTransport> transport_;
  netbuf runtimeCaller_{};  // given back with the transport

  sockaddr_storage caller_{};
  std::size_t mostReplyBytes_;
  ServingContext* serving_;
  std::vector<char> received_;
  std::vector<char> sending_;
  XDR arguments_{};        // over the bytes of the last call received, after its header
  ReplyCache::Call call_;  // the call being served
  ReplyCache replies_;
};
