#pragma once

// One call of the host program as its handler sees it: what it is served by,
// for whom, and how its arguments are read and its result answered.

#include <rpc/rpc.h>

#include <string>

#include "host/principals.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

class ServingContext;

class HostCall {
 public:
  HostCall(SVCXPRT* transport, ServingContext& serving, const Principal& principal,
           const std::string& principalKey)
      : transport_(transport),
        serving_(serving),
        principal_(principal),
        principalKey_(principalKey) {}

  ServingContext& serving() const { return serving_; }
  const Principal& principal() const { return principal_; }
  const std::string& principalKey() const { return principalKey_; }
  SVCXPRT* transport() const { return transport_; }

  // Decodes the arguments; answers garbage-arguments when they do not.
  template <class T>
  bool arguments(bool_t (*filter)(XDR*, T*), T* record) {
    if (transport_->xp_ops->xp_getargs(transport_, toXdrProc(filter), record)) return true;
    svcerr_decode(transport_);
    return false;
  }
  template <class T>
  void reply(bool_t (*filter)(XDR*, T*), T* result) {
    if (!svc_sendreply(transport_, toXdrProc(filter), result)) svcerr_systemerr(transport_);
  }
  void replyVoid() { svc_sendreply(transport_, toXdrProc(&voidFilter), nullptr); }
  // An empty text is sent as the absent string.
  void replyOptionalString(std::string& text) {
    char* sent = text.empty() ? nullptr : text.data();
    if (!svc_sendreply(transport_, toXdrProc(&X_OptionalString), &sent)) {
      svcerr_systemerr(transport_);
    }
  }

 private:
  SVCXPRT* transport_;
  ServingContext& serving_;
  const Principal& principal_;
  const std::string& principalKey_;
};
