#pragma once

// A transport the runtime made, driven through qovixd's own operations. The
// runtime keeps what it needs the transport for (polling its descriptor,
// finding the dispatcher, authenticating calls, rpcbind's network id and
// addresses); qovixd receives, decodes and replies. Before the transport is
// destroyed, the runtime gets its own operations and private state back and
// destroys it as it made it.

#include <rpc/rpc.h>

#include <type_traits>

#include "host/call_site.h"

using TransportOperations = std::remove_const_t<std::remove_pointer_t<decltype(SVCXPRT::xp_ops)>>;

// Frees what decoding arguments allocated; the same for every transport.
bool_t freeDecodedArguments(SVCXPRT* xprt, xdrproc_t filter, void* record);

// The transport's private pointer: its owner, as the CallSite it is when it
// carries calls qovixd dispatches.
template <class Owner>
void* privatePointerOf(Owner* owner) {
  if constexpr (std::is_base_of_v<CallSite, Owner>) {
    return static_cast<CallSite*>(owner);
  } else {
    return owner;
  }
}

template <class Owner>
Owner& ownerOf(SVCXPRT* xprt) {
  if constexpr (std::is_base_of_v<CallSite, Owner>) {
    return static_cast<Owner&>(*static_cast<CallSite*>(xprt->xp_p1));
  } else {
    return *static_cast<Owner*>(xprt->xp_p1);
  }
}

// The operations of a transport served by an `Owner`'s member functions,
// which it keeps private and opens to this class as a friend:
//
//   bool_t receive(rpc_msg* message);          // the next call's header
//   xprt_stat status() const;
//   bool_t getArguments(xdrproc_t filter, void* record);
//   bool_t reply(rpc_msg* message);
//   void endedByRuntime();                     // the runtime destroys it
//
// The runtime is C: nothing may unwind through it. What a member function
// throws fails the operation, as the runtime's own failures do (the call is
// not received, its arguments not decoded, its reply not sent).
template <class Owner>
class TransportOperationsOf {
  static Owner& of(SVCXPRT* xprt) { return ownerOf<Owner>(xprt); }
  template <class Result, class Operation>
  static Result failing(Result failed, Operation operation) noexcept {
    try {
      return operation();
    } catch (...) {
      return failed;
    }
  }
  static bool_t receive(SVCXPRT* xprt, rpc_msg* message) noexcept {
    return failing<bool_t>(FALSE, [&] { return of(xprt).receive(message); });
  }
  static xprt_stat status(SVCXPRT* xprt) noexcept {
    return failing<xprt_stat>(XPRT_DIED, [&] { return of(xprt).status(); });
  }
  static bool_t getArguments(SVCXPRT* xprt, xdrproc_t filter, void* record) noexcept {
    return failing<bool_t>(FALSE, [&] { return of(xprt).getArguments(filter, record); });
  }
  static bool_t reply(SVCXPRT* xprt, rpc_msg* message) noexcept {
    return failing<bool_t>(FALSE, [&] { return of(xprt).reply(message); });
  }
  static void destroy(SVCXPRT* xprt) noexcept {
    failing<bool>(false, [&] {
      of(xprt).endedByRuntime();
      return true;
    });
  }

 public:
  static constexpr TransportOperations kTable = {
      .xp_recv = &receive,
      .xp_stat = &status,
      .xp_getargs = &getArguments,
      .xp_reply = &reply,
      .xp_freeargs = &freeDecodedArguments,
      .xp_destroy = &destroy,
  };
};

class BorrowedTransport {
 public:
  // Takes over `xprt` (not null) for `owner`, whose member functions serve
  // it from now on.
  template <class Owner>
  BorrowedTransport(SVCXPRT* xprt, Owner* owner)
      : BorrowedTransport(xprt, &TransportOperationsOf<Owner>::kTable, privatePointerOf(owner)) {}
  // Gives the transport back and has the runtime destroy it, which closes
  // its descriptor.
  ~BorrowedTransport();
  BorrowedTransport(const BorrowedTransport&) = delete;
  BorrowedTransport& operator=(const BorrowedTransport&) = delete;

  SVCXPRT* get() const { return xprt_; }
  int fd() const { return xprt_->xp_fd; }

 private:
  BorrowedTransport(SVCXPRT* xprt, const TransportOperations* operations, void* owner);

  SVCXPRT* xprt_;
  const TransportOperations* runtimeOperations_;
  void* runtimePrivate_;
};
