#pragma once

// qovixd's TCP and UDP transports: bound to one address and one port, with
// the model, cast and host programs registered on both.

#include <rpc/rpc.h>

#include <cstdint>
#include <memory>
#include <string>

#include "host/connection_limits.h"

class DatagramTransport;
class ServingContext;
class StreamListener;

class RpcEndpoints {
 public:
  // Binds, listens and registers; throws HostError with the reason when the
  // address or port cannot be had. Port 0 picks a port free for both
  // protocols. Without `serveUdp` UDP is not served (its socket is closed).
  // Calls are served by `serving` (null: each gets the system error).
  RpcEndpoints(ServingContext* serving, const std::string& bindAddress, std::uint16_t port,
               bool registerWithRpcbind, ConnectionLimits limits = {}, bool serveUdp = true);
  // Withdraws any rpcbind registration, ends every connection and destroys
  // both transports.
  ~RpcEndpoints();
  RpcEndpoints(const RpcEndpoints&) = delete;
  RpcEndpoints& operator=(const RpcEndpoints&) = delete;

  std::uint16_t port() const { return port_; }
  // "ADDRESS:PORT", with an IPv6 address in brackets.
  std::string listeningAddress() const;
  // "tcp, udp", or "tcp" alone.
  const char* protocols() const;
  StreamListener& connections() const { return *tcp_; }

 private:
  void registerPrograms(SVCXPRT* transport);
  void announceToRpcbind();
  void withdrawFromRpcbind();

  std::string address_;
  std::uint16_t port_ = 0;
  std::unique_ptr<StreamListener> tcp_;
  std::unique_ptr<DatagramTransport> udp_;
  bool registeredWithRpcbind_ = false;
};
