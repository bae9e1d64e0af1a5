#include "client/rpc_port.h"

#include <netinet/in.h>
#include <poll.h>
#include <rpc/clnt_soc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "client/error.h"
#include "wire/wire_primitives.h"
#include "wire_filters.h"
#include "xdr/argument_records.h"
#include "xdr/data_value.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

namespace qovix::client {
namespace {

// Writes the fields one after another: the record they make.
bool_t encodeFields(XDR* xdrs, const std::vector<Field>* fields) {
  if (xdrs->x_op != XDR_ENCODE) return TRUE;
  for (const Field& field : *fields) {
    switch (field.kind) {
      case Field::Kind::Handle: {
        InteropHandle handle = field.word;
        if (!X_InteropHandle(xdrs, &handle)) return FALSE;
        break;
      }
      case Field::Kind::Word: {
        auto number = static_cast<udt_integer>(field.word);
        if (!X_udt_integer(xdrs, &number)) return FALSE;
        break;
      }
      case Field::Kind::Hyper: {
        std::uint64_t wide = field.wide;
        if (!X_Sequence(xdrs, &wide)) return FALSE;
        break;
      }
      case Field::Kind::Bytes: {
        // Encoding only reads the bytes: a chunk is not copied to be sent.
        if (!wire::byteString(xdrs, const_cast<std::string*>(&field.bytes), kMaxCallRecordBytes)) {
          return FALSE;
        }
        break;
      }
      case Field::Kind::Value: {
        udt_dataType flat{};
        flat.extra = field.value.valueClass;
        if (field.value.isText) {
          flat.kind = kTextArm;
          flat.text = const_cast<Utf16Unit*>(field.value.text.c_str());
        } else {
          flat.kind = kNumberArm;
          flat.value.integer = field.value.number;
        }
        if (!X_VornDataType(xdrs, &flat)) return FALSE;
        break;
      }
    }
  }
  return TRUE;
}

timeval toTimeval(std::chrono::milliseconds timeout) {
  return {static_cast<time_t>(timeout.count() / 1000),
          static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
}

// Whether the server has closed a TCP connection that has no call
// outstanding (it closes idle ones). Such a connection has nothing to read
// unless it has ended.
bool serverHungUp(CLIENT* client) {
  int fd = -1;
  if (!clnt_control(client, CLGET_FD, reinterpret_cast<char*>(&fd)) || fd < 0) return false;
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, 0) > 0;
}

}  // namespace

RpcPort::RpcPort(std::string host, std::uint16_t port, const TlsOptions& tls,
                 std::chrono::milliseconds timeout)
    : host_(std::move(host)),
      port_(port),
      timeout_(toTimeval(timeout)),
      tlsOptions_(tls),
      timeoutSpan_(timeout) {}

RpcPort::~RpcPort() {
  for (auto& [key, client] : clients_) clnt_destroy(client);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> RpcPort::versionsServed(
    Transport transport, std::uint32_t program) const {
  const auto client = clients_.find({transport, program});
  if (client == clients_.end()) return std::nullopt;
  rpc_err error{};
  clnt_geterr(client->second, &error);
  return std::pair{static_cast<std::uint32_t>(error.re_vers.low),
                   static_cast<std::uint32_t>(error.re_vers.high)};
}

TlsChannel& RpcPort::tlsChannel() {
  if (tls_ != nullptr && tls_->serverHungUp()) tls_.reset();  // closed while idle: made again
  if (tls_ == nullptr) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(port_);
    if (getaddrinfo(host_.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
      throw Error(ErrorKind::CannotConnect, "cannot resolve the host '" + host_ + "'");
    }
    try {
      tls_ = std::make_unique<TlsChannel>(*found, host_, endpoint(), tlsOptions_, timeoutSpan_);
    } catch (...) {
      freeaddrinfo(found);
      throw;
    }
    freeaddrinfo(found);
  }
  return *tls_;
}

CLIENT* RpcPort::clientFor(Transport transport, std::uint32_t program, std::uint32_t version) {
  if (const auto cached = clients_.find({transport, program}); cached != clients_.end()) {
    if (transport == Transport::Tcp && serverHungUp(cached->second)) {
      // Reconnect before sending: the call has not been made yet, so
      // nothing is lost or done twice.
      clnt_destroy(cached->second);
      clients_.erase(cached);
      return clientFor(transport, program, version);
    }
    clnt_control(cached->second, CLSET_VERS, reinterpret_cast<char*>(&version));
    return cached->second;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;  // an IPv4 or IPv6 address, or a name for either
  hints.ai_socktype = transport == Transport::Tcp ? SOCK_STREAM : SOCK_DGRAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(port_);
  if (getaddrinfo(host_.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
    throw Error(ErrorKind::CannotConnect, "cannot resolve the host '" + host_ + "'");
  }
  CLIENT* client = clientAt(*found, transport, program, version);
  freeaddrinfo(found);
  if (client == nullptr) {
    // The runtime's message starts with the prefix it is given and ": ".
    const std::string reason = clnt_spcreateerror("");
    throw Error(ErrorKind::CannotConnect,
                "cannot reach qovixd at " + endpoint() + ": " + reason.substr(2));
  }
  clnt_control(client, CLSET_TIMEOUT, reinterpret_cast<char*>(&timeout_));
  clients_[{transport, program}] = client;
  return client;
}

void RpcPort::setTimeout(std::chrono::milliseconds timeout) {
  timeout_ = toTimeval(timeout);
  timeoutSpan_ = timeout;
  for (auto& [key, client] : clients_) {
    clnt_control(client, CLSET_TIMEOUT, reinterpret_cast<char*>(&timeout_));
  }
  if (tls_) tls_->setTimeout(timeout);
}

std::string RpcPort::endpoint() const {
  const bool ipv6 = host_.find(':') != std::string::npos;
  return (ipv6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

CLIENT* RpcPort::clientAt(const addrinfo& where, Transport transport, std::uint32_t program,
                          std::uint32_t version) {
  if (where.ai_family == AF_INET) {
    sockaddr_in address{};
    std::memcpy(&address, where.ai_addr, sizeof address);
    int socket = RPC_ANYSOCK;
    return transport == Transport::Tcp
               ? clnttcp_create(&address, program, version, &socket, 0, 0)
               : clntudp_bufcreate(&address, program, version,
                                   toTimeval(std::chrono::milliseconds(500)), &socket, 65536,
                                   65536);
  }
  // IPv6: the runtime's transport-independent clients, on a socket of ours
  // that they close when they go.
  const int fd = ::socket(where.ai_family, where.ai_socktype | SOCK_CLOEXEC, where.ai_protocol);
  if (fd < 0) return nullptr;
  if (transport == Transport::Tcp && connect(fd, where.ai_addr, where.ai_addrlen) != 0) {
    rpc_createerr.cf_stat = RPC_SYSTEMERROR;
    rpc_createerr.cf_error.re_errno = errno;
    close(fd);
    return nullptr;
  }
  netbuf address{where.ai_addrlen, where.ai_addrlen, where.ai_addr};
  CLIENT* client = transport == Transport::Tcp
                       ? clnt_vc_create(fd, &address, program, version, 0, 0)
                       : clnt_dg_create(fd, &address, program, version, 65536, 65536);
  if (client == nullptr) {
    close(fd);
    return nullptr;
  }
  clnt_control(client, CLSET_FD_CLOSE, nullptr);
  if (transport == Transport::Udp) {
    timeval retry = toTimeval(std::chrono::milliseconds(500));
    clnt_control(client, CLSET_RETRY_TIMEOUT, reinterpret_cast<char*>(&retry));
  }
  return client;
}

clnt_stat RpcPort::send(Transport transport, std::uint32_t program, std::uint32_t version,
                        std::uint32_t procedure, const std::vector<Field>& fields, xdrproc_t filter,
                        void* into) {
  if (tlsOptions_.enabled) {
    rpc_err error{};
    const clnt_stat status =
        tlsChannel().call(program, version, procedure, toXdrProc(&encodeFields),
                          const_cast<std::vector<Field>*>(&fields), filter, into, error);
    if (status == RPC_CANTRECV || status == RPC_CANTSEND) tls_.reset();  // not reused
    return status;
  }
  CLIENT* client = clientFor(transport, program, version);
  const clnt_stat status =
      clnt_call(client, procedure, toXdrProc(&encodeFields),
                const_cast<std::vector<Field>*>(&fields), filter, into, timeout_);
  if (status == RPC_CANTRECV || status == RPC_TIMEDOUT || status == RPC_CANTSEND) {
    clnt_destroy(client);  // a broken stream is not reused
    clients_.erase({transport, program});
  }
  return status;
}

}  // namespace qovix::client
