#pragma once

// qovixd's TCP and UDP transports: bound to one address and one port, with
// the model, cast and host programs registered on both.

#include <rpc/rpc.h>

#include <cstdint>
#include <string>

class RpcEndpoints {
 public:
  // Binds, listens and registers; throws HostError with the reason when the
  // address or port cannot be had. Port 0 picks a port free for both
  // protocols.
  RpcEndpoints(const std::string& bindAddress, std::uint16_t port, bool registerWithRpcbind);
  // Withdraws any rpcbind registration and destroys both transports.
  ~RpcEndpoints();
  RpcEndpoints(const RpcEndpoints&) = delete;
  RpcEndpoints& operator=(const RpcEndpoints&) = delete;

  std::uint16_t port() const { return port_; }
  // "ADDRESS:PORT", with an IPv6 address in brackets.
  std::string listeningAddress() const;
  // Whether `fd` is one of the two transports themselves (not a connection).
  bool owns(int fd) const;

 private:
  void registerPrograms(SVCXPRT* transport);
  void announceToRpcbind();
  void withdrawFromRpcbind();

  std::string address_;
  std::uint16_t port_ = 0;
  SVCXPRT* tcp_ = nullptr;
  SVCXPRT* udp_ = nullptr;
  bool registeredWithRpcbind_ = false;
};
