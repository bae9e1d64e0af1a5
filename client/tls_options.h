#pragma once

// How a Connection asks for RPC-with-TLS (RFC 9289).

#include <string>

namespace qovix::client {

struct TlsOptions {
  bool enabled = false;
  std::string authority;    // CA file that verifies the server; empty: the system's
  std::string certificate;  // this client's certificate and key (PEM), to present
  std::string key;
};

}  // namespace qovix::client
