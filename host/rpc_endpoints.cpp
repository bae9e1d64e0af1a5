#include "host/rpc_endpoints.h"

#include <arpa/inet.h>
#include <netconfig.h>
#include <netinet/in.h>
#include <rpc/rpcb_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "host/datagram_transport.h"
#include "host/host_error.h"
#include "host/program_dispatch.h"
#include "host/stream_listener.h"
#include "qovix_protocol.h"

namespace {

using namespace qovix::protocol;

constexpr int kPortAttempts = 50;

// A socket that closes itself unless handed over.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

struct BindAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_UNSPEC;

  void setPort(std::uint16_t port) {
    if (family == AF_INET) {
      reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
    } else {
      reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
    }
  }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

BindAddress parseAddress(const std::string& text) {
  BindAddress address;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    address.family = AF_INET;
    address.length = sizeof(sockaddr_in);
  } else if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    address.family = AF_INET6;
    address.length = sizeof(sockaddr_in6);
  } else {
    throw HostError("not a numeric IP address: " + text);
  }
  return address;
}

std::string describe(const std::string& address, std::uint16_t port) {
  return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
         std::to_string(port);
}

Socket openSocket(const BindAddress& address, int type) {
  Socket socket(::socket(address.family, type | SOCK_CLOEXEC, 0));
  if (socket.get() < 0)
    throw HostError(std::string("cannot create a socket: ") + std::strerror(errno));
  const int on = 1;
  if (type == SOCK_STREAM) setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (address.family == AF_INET6)
    setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  return socket;
}

std::uint16_t boundPort(int fd) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  return local.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port)
                                    : ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
}

struct BoundSockets {
  Socket tcp;
  Socket udp;
  std::uint16_t port;
};

// Binds a listening TCP socket and a UDP socket to the same port. With port
// 0 the TCP side picks a free port and the UDP side follows it; when that
// port is taken for UDP, another one is tried.
BoundSockets bindBoth(const std::string& text, std::uint16_t port) {
  BindAddress address = parseAddress(text);
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    Socket tcp = openSocket(address, SOCK_STREAM);
    address.setPort(port);
    if (bind(tcp.get(), address.get(), address.length) != 0 || listen(tcp.get(), SOMAXCONN) != 0) {
      throw HostError("cannot serve TCP on " + describe(text, port) + ": " + std::strerror(errno));
    }
    const std::uint16_t chosen = boundPort(tcp.get());
    Socket udp = openSocket(address, SOCK_DGRAM);
    address.setPort(chosen);
    if (bind(udp.get(), address.get(), address.length) == 0) {
      return {std::move(tcp), std::move(udp), chosen};
    }
    if (port != 0 || errno != EADDRINUSE) {
      throw HostError("cannot serve UDP on " + describe(text, chosen) + ": " +
                      std::strerror(errno));
    }
  }
  throw HostError("found no port free for both TCP and UDP on " + text);
}

// Every program and version served, in registration order. The runtime looks
// calls up newest first, so the model program, the busiest, comes last.
template <class Visit>
void forEachProgramVersion(Visit visit) {
  visit(kHostProgram, kHostVersion, &dispatchHostProgram);
  for (std::uint32_t version = kFirstClassNumber; version <= kLastClassNumber; ++version) {
    visit(kCastProgram, version, &dispatchCastProgram);
  }
  for (std::uint32_t version = kLastClassNumber; version >= kFirstClassNumber; --version) {
    visit(kModelProgram, version, &dispatchModelProgram);
  }
}

}  // namespace

RpcEndpoints::RpcEndpoints(ServingContext* serving, const std::string& bindAddress,
                           std::uint16_t port, bool registerWithRpcbind, ConnectionLimits limits,
                           bool serveUdp)
    : address_(bindAddress) {
  BoundSockets sockets = bindBoth(bindAddress, port);
  port_ = sockets.port;

  tcp_ = std::make_unique<StreamListener>(sockets.tcp.release(), limits, serving);
  registerPrograms(tcp_->xprt());
  if (serveUdp) {
    udp_ = std::make_unique<DatagramTransport>(sockets.udp.release(), limits.udpMostReplyBytes,
                                               serving);
    registerPrograms(udp_->xprt());
  }
  if (registerWithRpcbind) announceToRpcbind();
}

RpcEndpoints::~RpcEndpoints() {
  if (registeredWithRpcbind_) withdrawFromRpcbind();
}

std::string RpcEndpoints::listeningAddress() const { return describe(address_, port_); }

const char* RpcEndpoints::protocols() const { return udp_ ? "tcp, udp" : "tcp"; }

void RpcEndpoints::registerPrograms(SVCXPRT* transport) {
  forEachProgramVersion([&](std::uint32_t program, std::uint32_t version, auto dispatch) {
    if (!svc_reg(transport, program, version, dispatch, nullptr)) {
      throw HostError("cannot register program " + std::to_string(program) + " version " +
                      std::to_string(version));
    }
  });
}

void RpcEndpoints::announceToRpcbind() {
  // Clear what an earlier server that did not stop cleanly left behind;
  // rpcbind refuses to register a program version twice.
  withdrawFromRpcbind();
  for (SVCXPRT* transport : {tcp_->xprt(), udp_ ? udp_->xprt() : nullptr}) {
    if (transport == nullptr) continue;
    netconfig* config = getnetconfigent(transport->xp_netid);
    if (config == nullptr)
      throw HostError("no network configuration for " + std::string(transport->xp_netid));
    bool registered = true;
    forEachProgramVersion([&](std::uint32_t program, std::uint32_t version, auto) {
      if (registered) registered = rpcb_set(program, version, config, &transport->xp_ltaddr);
    });
    freenetconfigent(config);
    registeredWithRpcbind_ = true;  // withdraw whatever part did register
    if (!registered) {
      withdrawFromRpcbind();
      throw HostError("cannot register with rpcbind; is it running?");
    }
  }
}

void RpcEndpoints::withdrawFromRpcbind() {
  forEachProgramVersion([](std::uint32_t program, std::uint32_t version, auto) {
    rpcb_unset(program, version, nullptr);
  });
  registeredWithRpcbind_ = false;
}
