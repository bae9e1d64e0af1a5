#pragma once

// A transport the runtime made, driven through qovixd's own operations. The
// runtime keeps what it needs the transport for (polling its descriptor,
// finding the dispatcher, authenticating calls, rpcbind's network id and
// addresses); qovixd receives, decodes and replies. Before the transport is
// destroyed, the runtime gets its own operations and private state back and
// destroys it as it made it.

#include <rpc/rpc.h>

#include <type_traits>

using TransportOperations = std::remove_const_t<std::remove_pointer_t<decltype(SVCXPRT::xp_ops)>>;

// Frees what decoding arguments allocated; the same for every transport.
bool_t freeDecodedArguments(SVCXPRT* xprt, xdrproc_t filter, void* record);

class BorrowedTransport {
 public:
  // Takes over `xprt` (not null), pointing its operations at `operations`
  // and its private pointer at `owner`, for `ownerOf` to find.
  BorrowedTransport(SVCXPRT* xprt, const TransportOperations* operations, void* owner);
  // Gives the transport back and has the runtime destroy it, which closes
  // its descriptor.
  ~BorrowedTransport();
  BorrowedTransport(const BorrowedTransport&) = delete;
  BorrowedTransport& operator=(const BorrowedTransport&) = delete;

  SVCXPRT* get() const { return xprt_; }
  int fd() const { return xprt_->xp_fd; }

  template <class Owner>
  static Owner& ownerOf(SVCXPRT* xprt) {
    return *static_cast<Owner*>(xprt->xp_p1);
  }

 private:
  SVCXPRT* xprt_;
  const TransportOperations* runtimeOperations_;
  void* runtimePrivate_;
};
