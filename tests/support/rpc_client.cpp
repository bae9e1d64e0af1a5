#include "tests/support/rpc_client.h"

#include <arpa/inet.h>

#include <stdexcept>

#include "xdr/xdr_filter.h"

namespace {

// Sends argument bytes exactly as given.
bool_t putRawBytes(XDR* xdrs, const Bytes* bytes) {
  if (xdrs->x_op != XDR_ENCODE) return TRUE;
  return bytes->empty() || xdr_putbytes(xdrs, reinterpret_cast<const char*>(bytes->data()),
                                        static_cast<u_int>(bytes->size()));
}

timeval toTimeval(std::chrono::milliseconds timeout) {
  return {static_cast<time_t>(timeout.count() / 1000),
          static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
}

}  // namespace

std::string toString(Transport transport) { return transport == Transport::Tcp ? "tcp" : "udp"; }

RpcClient::RpcClient(Transport transport, std::uint16_t port, std::uint32_t program,
                     std::uint32_t version, std::chrono::milliseconds timeout)
    : timeout_(toTimeval(timeout)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int socket = RPC_ANYSOCK;
  if (transport == Transport::Tcp) {
    client_ = clnttcp_create(&address, program, version, &socket, 0, 0);
  } else {
    timeval retry = toTimeval(std::chrono::milliseconds(500));
    client_ = clntudp_create(&address, program, version, retry, &socket);
  }
  if (client_ == nullptr) {
    throw std::runtime_error("cannot create a " + toString(transport) +
                             " client: " + clnt_spcreateerror("qovix test"));
  }
  clnt_control(client_, CLSET_TIMEOUT, reinterpret_cast<char*>(&timeout_));
}

RpcClient::~RpcClient() {
  if (client_ != nullptr) clnt_destroy(client_);
}

CallOutcome RpcClient::call(std::uint32_t procedure, const Bytes& arguments, xdrproc_t resultFilter,
                            void* result) {
  CallOutcome outcome{};
  outcome.status = clnt_call(client_, procedure, toXdrProc(&putRawBytes),
                             const_cast<Bytes*>(&arguments), resultFilter, result, timeout_);
  clnt_geterr(client_, &outcome.error);
  return outcome;
}

CallOutcome RpcClient::call(std::uint32_t procedure, const Bytes& arguments) {
  return call(procedure, arguments, toXdrProc(&voidFilter), nullptr);
}
