#pragma once

// RPC-with-TLS (RFC 9289) for the client library: one TCP connection on
// which a NULL call with the AUTH_TLS credential asks for TLS, the server's
// "STARTTLS" answer is checked, and a TLS 1.3 session (GnuTLS, ALPN
// "sunrpc") then carries every call. A client that asked for TLS never
// goes on in plain text: each failure throws Error(CannotConnect).

#include <gnutls/gnutls.h>
#include <netdb.h>
#include <rpc/rpc.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "client/tls_options.h"

namespace qovix::client {

class TlsChannel {
 public:
  TlsChannel(const addrinfo& where, const std::string& host, const std::string& endpoint,
             const TlsOptions& options, std::chrono::milliseconds timeout);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // One call: `encode` writes the arguments, `filter` reads the result into
  // `into`; what the reply says, as the runtime's clients say it.
  // Whether the server closed the session while no call was outstanding.
  bool serverHungUp() const;
  // How long a call may wait for its reply, from now on.
  void setTimeout(std::chrono::milliseconds timeout);

  clnt_stat call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                 xdrproc_t encode, void* arguments, xdrproc_t filter, void* into, rpc_err& error);

 private:
  bool sendRecord(const std::vector<char>& record);
  bool receiveRecord(std::vector<char>& record);

  int fd_ = -1;
  gnutls_session_t session_ = nullptr;
  gnutls_certificate_credentials_t credentials_ = nullptr;
  std::uint32_t xid_;
};

}  // namespace qovix::client
