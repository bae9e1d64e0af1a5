#pragma once

// The principal each call is made for: the subject of the client
// certificate its TLS session presented, or else the peer address the call
// came from (for a datagram, the datagram's); or a user whom the
// connection's certificate vouches for (host procedure act_for).

#include <rpc/rpc.h>

#include <string>
#include <string_view>

struct Principal {
  enum class Kind { Address, Certificate, User };
  std::string name;  // "CN=alice,O=Modelling", "192.0.2.7" or "user:alice"
  Kind kind = Kind::Address;

  bool certified() const { return kind == Kind::Certificate; }
  // The registry's name for it, which no principal of another kind can
  // share ("user:" never begins a certificate's or an address's key).
  std::string key() const {
    switch (kind) {
      case Kind::Certificate:
        return "certificate " + name;
      case Kind::User:
        return name;
      case Kind::Address:
        break;
    }
    return "address " + name;
  }
};

// The principal of a call the transport carries from its peer address, for
// a transport without a certificate's subject.
Principal peerPrincipal(const SVCXPRT* transport);

// The principal of the user `name` vouched for ("user:" and the name), or
// an empty name when `name` is no user name: 1 to 64 ASCII letters, digits
// and . _ - @ +, so that it cannot pass for a certificate's subject or an
// address in the access file.
Principal userPrincipal(std::string_view name);
