#pragma once

// What the dispatch learns of a call from the transport that carries it:
// the serving context it is served by, and the principal it is made for.
// Every transport qovixd dispatches is a CallSite, and its private pointer
// (xp_p1) leads to it: the runtime's dispatch functions carry no context of
// their own.

#include <rpc/rpc.h>

#include "host/principals.h"

class ServingContext;

class CallSite {
 public:
  // Null while nothing is served: every call gets the system error.
  virtual ServingContext* serving() const = 0;
  // The principal of the call the transport carries now. May throw
  // std::bad_alloc.
  virtual Principal principal() const = 0;
  // Makes the transport's later calls for `user`, whom its certificate
  // vouches for; false when it cannot: a transport with no certificate or
  // no connection of its own (a datagram's), or one acting for a user
  // already. May throw std::bad_alloc.
  virtual bool actFor(const Principal& user) {
    (void)user;
    return false;
  }

 protected:
  ~CallSite() = default;
};

// The call site of a transport qovixd dispatches (see above).
inline const CallSite& callSiteOf(const SVCXPRT* transport) {
  return *static_cast<const CallSite*>(transport->xp_p1);
}
inline CallSite& callSiteOf(SVCXPRT* transport) {
  return *static_cast<CallSite*>(transport->xp_p1);
}
