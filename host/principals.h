#pragma once

// The principal each call is made for: the subject of the client
// certificate its TLS session presented, or else the peer address the call
// came from (for a datagram, the datagram's).

#include <rpc/rpc.h>

#include <string>

struct Principal {
  std::string name;        // "CN=alice,O=Modelling", or "192.0.2.7"
  bool certified = false;  // named by a certificate
  // The registry's name for it, which no certificate subject and no address
  // can share.
  std::string key() const { return (certified ? "certificate " : "address ") + name; }
};

// The principal of a call the transport carries from its peer address, for
// a transport without a certificate's subject.
Principal peerPrincipal(const SVCXPRT* transport);
