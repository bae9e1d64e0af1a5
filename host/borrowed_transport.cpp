#include "host/borrowed_transport.h"

BorrowedTransport::BorrowedTransport(SVCXPRT* xprt, const TransportOperations* operations,
                                     void* owner)
    : xprt_(xprt), runtimeOperations_(xprt->xp_ops), runtimePrivate_(xprt->xp_p1) {
  xprt_->xp_ops = operations;
  xprt_->xp_p1 = owner;
}

BorrowedTransport::~BorrowedTransport() {
  xprt_->xp_ops = runtimeOperations_;
  xprt_->xp_p1 = runtimePrivate_;
  svc_destroy(xprt_);
}

bool_t freeDecodedArguments(SVCXPRT*, xdrproc_t filter, void* record) {
  XDR stream{};
  stream.x_op = XDR_FREE;
  return filter(&stream, record);
}
