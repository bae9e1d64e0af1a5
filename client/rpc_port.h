#pragma once

// The wire under a Connection, private to the client library: the runtime's
// ONC RPC clients (one per transport and program; versions switch per call),
// or the RPC-with-TLS channel. A stream that broke or timed out is not
// reused, and one the server closed while idle is made again before the
// next call is sent.

#include <netdb.h>
#include <rpc/rpc.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/call_fields.h"
#include "client/tls_channel.h"
#include "client/tls_options.h"

namespace qovix::client {

class RpcPort {
 public:
  // With `tls.enabled`, every call goes over RPC-with-TLS on TCP.
  RpcPort(std::string host, std::uint16_t port, const TlsOptions& tls,
          std::chrono::milliseconds timeout);
  ~RpcPort();
  RpcPort(const RpcPort&) = delete;
  RpcPort& operator=(const RpcPort&) = delete;

  // One call: `fields` as its argument record, `filter` reads the result
  // into `into`; what the reply says, as the runtime's clients say it.
  // Throws Error(CannotConnect) when no connection can be had.
  clnt_stat send(Transport transport, std::uint32_t program, std::uint32_t version,
                 std::uint32_t procedure, const std::vector<Field>& fields, xdrproc_t filter,
                 void* into);
  // After a version mismatch: the versions the server said it serves.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> versionsServed(
      Transport transport, std::uint32_t program) const;
  // "HOST:PORT", or "[HOST]:PORT" for an IPv6 address.
  std::string endpoint() const;
  // How long a call waits for its reply, from the next call on.
  void setTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds timeout() const { return timeoutSpan_; }

 private:
  CLIENT* clientFor(Transport transport, std::uint32_t program, std::uint32_t version);
  // A client at the address found; null (rpc_createerr says why) when none.
  static CLIENT* clientAt(const addrinfo& where, Transport transport, std::uint32_t program,
                          std::uint32_t version);
  // The TLS session calls go on, made when there is none.
  TlsChannel& tlsChannel();

  std::string host_;
  std::uint16_t port_;
  timeval timeout_;
  std::map<std::pair<Transport, std::uint32_t>, CLIENT*> clients_;  // by transport and program
  TlsOptions tlsOptions_;
  std::unique_ptr<TlsChannel> tls_;
  std::chrono::milliseconds timeoutSpan_;
};

}  // namespace qovix::client
