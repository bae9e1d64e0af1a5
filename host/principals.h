#pragma once

// The principal each transport's calls are made for: the subject of the
// client certificate its TLS session presented, or else the peer address
// the call came from (for a datagram, the datagram's).

#include <rpc/rpc.h>

#include <string>

struct Principal {
  std::string name;          // "CN=alice,O=Modelling", or "192.0.2.7"
  bool certified = false;    // named by a certificate
  // The registry's name for it, which no certificate subject and no address
  // can share.
  std::string key() const { return (certified ? "certificate " : "address ") + name; }
};

// A TLS session's certificate names the transport's principal from now on.
void namePrincipal(const SVCXPRT* transport, std::string subject);
void forgetPrincipal(const SVCXPRT* transport);
// The transport's principal for the call it carries now.
Principal principalOf(const SVCXPRT* transport);
