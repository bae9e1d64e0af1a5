#pragma once

// A libtirpc client to a qovixd on loopback, without rpcbind, for tests.

#include <rpc/rpc.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/support/wire_bytes.h"

enum class Transport { Tcp, Udp };

std::string toString(Transport transport);

struct CallOutcome {
  clnt_stat status;
  rpc_err error;  // the versions served, for a version mismatch
};

class RpcClient {
 public:
  // Connects (TCP) or aims (UDP) at 127.0.0.1:`port`; throws
  // std::runtime_error when the client cannot be made.
  RpcClient(Transport transport, std::uint16_t port, std::uint32_t program, std::uint32_t version,
            std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~RpcClient();
  RpcClient(const RpcClient&) = delete;
  RpcClient& operator=(const RpcClient&) = delete;

  // Calls `procedure` with `arguments` as the raw argument bytes, decoding
  // the result with `resultFilter` into `result`.
  CallOutcome call(std::uint32_t procedure, const Bytes& arguments, xdrproc_t resultFilter,
                   void* result);

  // A call whose result is empty.
  CallOutcome call(std::uint32_t procedure, const Bytes& arguments = {});

  CLIENT* get() { return client_; }

 private:
  CLIENT* client_ = nullptr;
  timeval timeout_{};
};
