#include "client/connection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/clnt_soc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "qovix_protocol.h"
#include "xdr/argument_records.h"
#include "xdr/data_value.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

namespace qovix::client {
namespace {

using namespace qovix::protocol;

constexpr std::int32_t kTextArm = 10;
constexpr std::int32_t kNumberArm = 11;

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

ErrorKind kindOf(clnt_stat status) {
  switch (status) {
    case RPC_PROCUNAVAIL:
      return ErrorKind::ProcedureUnavailable;
    case RPC_CANTDECODEARGS:
      return ErrorKind::GarbageArguments;
    case RPC_SYSTEMERROR:
      return ErrorKind::SystemError;
    case RPC_TIMEDOUT:
      return ErrorKind::Timeout;
    case RPC_PROGVERSMISMATCH:
      return ErrorKind::VersionMismatch;
    case RPC_PROGUNAVAIL:
      return ErrorKind::ProgramUnavailable;
    case RPC_CANTSEND:
    case RPC_CANTRECV:
      return ErrorKind::ConnectionLost;
    case RPC_CANTDECODERES:
      return ErrorKind::UnexpectedReply;
    case RPC_AUTHERROR:
      return ErrorKind::AccessDenied;
    default:
      return ErrorKind::Other;
  }
}

std::string describe(std::uint32_t program, std::uint32_t version, std::uint32_t procedure) {
  std::string what = program == kModelProgram  ? "class " + std::to_string(version)
                     : program == kCastProgram ? "cast to class " + std::to_string(version)
                                               : "host";
  return what + " procedure " + std::to_string(procedure);
}

timeval toTimeval(std::chrono::milliseconds timeout) {
  return {static_cast<time_t>(timeout.count() / 1000),
          static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
}

}  // namespace

const char* toString(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::CannotConnect:
      return "cannot connect";
    case ErrorKind::ProcedureUnavailable:
      return "procedure unavailable";
    case ErrorKind::GarbageArguments:
      return "the server could not decode the arguments";
    case ErrorKind::SystemError:
      return "system error (the model failed the call; the server's log says why)";
    case ErrorKind::Timeout:
      return "no reply in time";
    case ErrorKind::VersionMismatch:
      return "no such class number";
    case ErrorKind::ProgramUnavailable:
      return "the server does not serve this program";
    case ErrorKind::ConnectionLost:
      return "the connection was lost";
    case ErrorKind::UnexpectedReply:
      return "the reply was not of the expected type";
    case ErrorKind::InvalidHandle:
      return "a handle names no object of the class the call needs";
    case ErrorKind::AccessDenied:
      return "refused: this client may not make the call (see qovixd's --access), or qovixd "
             "requires TLS";
    case ErrorKind::Other:
      break;
  }
  return "the call failed";
}

Value Value::ofText(std::int32_t valueClass, std::u16string text) {
  Value value;
  value.valueClass = valueClass;
  value.isText = true;
  value.text = std::move(text);
  return value;
}

Value Value::ofNumber(std::int32_t valueClass, std::int32_t number) {
  Value value;
  value.valueClass = valueClass;
  value.number = number;
  return value;
}

Connection::Connection(const std::string& host, std::uint16_t port, const TlsOptions& tls,
                       std::chrono::milliseconds timeout)
    : host_(host),
      port_(port),
      transport_(Transport::Tcp),
      timeout_(toTimeval(timeout)),
      tlsOptions_(tls),
      timeoutSpan_(timeout) {
  try {
    ping();
  } catch (const Error& error) {
    // TLS 1.3 clients learn only on their first call that the server
    // refused their certificate.
    if (error.kind() != ErrorKind::ConnectionLost) throw;
    throw Error(ErrorKind::CannotConnect, "qovixd at " + endpoint() +
                                              " ended the TLS session at once: it refused this "
                                              "client's certificate");
  }
}

TlsChannel& Connection::tlsChannel() {
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

Connection::Connection(const std::string& host, std::uint16_t port, Transport transport,
                       std::chrono::milliseconds timeout)
    : host_(host),
      port_(port),
      transport_(transport),
      timeout_(toTimeval(timeout)),
      timeoutSpan_(timeout) {
  try {
    ping();
  } catch (const Error& error) {
    for (auto& [key, client] : clients_) clnt_destroy(client);  // no destructor runs
    clients_.clear();
    // Over UDP nothing connects first: no server shows as no reply.
    if (transport == Transport::Udp &&
        (error.kind() == ErrorKind::ConnectionLost || error.kind() == ErrorKind::Timeout)) {
      throw Error(ErrorKind::CannotConnect,
                  "no answer from qovixd at " + endpoint() + " over UDP");
    }
    throw;
  }
}

Connection::~Connection() {
  for (auto& [key, client] : clients_) clnt_destroy(client);
}

namespace {

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

CLIENT* Connection::clientFor(Transport transport, std::uint32_t program, std::uint32_t version) {
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

std::string Connection::endpoint() const {
  const bool ipv6 = host_.find(':') != std::string::npos;
  return (ipv6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

CLIENT* Connection::clientAt(const addrinfo& where, Transport transport, std::uint32_t program,
                             std::uint32_t version) {
  if (where.ai_family == AF_INET) {
    sockaddr_in address{};
    std::memcpy(&address, where.ai_addr, sizeof address);
    int socket = RPC_ANYSOCK;
    return transport == Transport::Tcp
               ? clnttcp_create(&address, program, version, &socket, 0, 0)
               : clntudp_bufcreate(&address, program, version,
                                   toTimeval(std::chrono::milliseconds(500)), &socket, 65536, 65536);
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

clnt_stat Connection::send(Transport transport, std::uint32_t program, std::uint32_t version,
                           std::uint32_t procedure, const std::vector<Field>& fields,
                           xdrproc_t filter, void* into) {
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

Result Connection::invoke(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                          const std::vector<Field>& fields, ResultKind expected) {
  ++callsMade_;
  Result result;
  result.kind = expected;
  char* text = nullptr;
  udt_dataType value{};
  HandleLong pair{};
  void* into = nullptr;
  XdrFilter filter = &voidFilter;
  switch (expected) {
    case ResultKind::Void:
      break;
    case ResultKind::Handle:
      filter = untypedFilter<&X_InteropHandle>;
      into = &result.handle;
      break;
    case ResultKind::Int:
      filter = untypedFilter<&X_udt_boolean>;
      into = &result.number;
      break;
    case ResultKind::Long:
      filter = untypedFilter<&X_udt_integer>;
      into = &result.number;
      break;
    case ResultKind::OptionalString:
      filter = untypedFilter<&X_OptionalString>;
      into = &text;
      break;
    case ResultKind::DataValue:
      filter = untypedFilter<&X_VornDataType>;
      into = &value;
      break;
    case ResultKind::Pair:
      filter = untypedFilter<&X_HandleLong>;
      into = &pair;
      break;
  }
  Transport used = transport_;
  clnt_stat status = send(used, program, version, procedure, fields, toXdrProc(filter), into);
  if (status == RPC_SYSTEMERROR && used == Transport::Udp) {
    // qovixd answers a reply too large for UDP with the system error, and
    // undoes the call (it undoes every call that fails), so it is made
    // again over TCP. A call that failed for another reason fails again.
    xdr_free(toXdrProc(filter), into);
    ++callsMade_;
    used = Transport::Tcp;
    status = send(used, program, version, procedure, fields, toXdrProc(filter), into);
  }
  if (status != RPC_SUCCESS) {
    const ErrorKind kind = kindOf(status);
    std::string message = describe(program, version, procedure) + ": " + toString(kind);
    if (const auto client = clients_.find({used, program});
        kind == ErrorKind::VersionMismatch && client != clients_.end()) {
      rpc_err error{};
      clnt_geterr(client->second, &error);
      message += " (the server serves " + std::to_string(error.re_vers.low) + ".." +
                 std::to_string(error.re_vers.high) + ")";
    }
    xdr_free(toXdrProc(filter), into);
    throw Error(kind, message);
  }
  if (expected == ResultKind::Pair) {
    result.handle = pair.target;
    result.number = pair.param1;
  } else if (expected == ResultKind::OptionalString) {
    if (text != nullptr) result.text = text;
    xdr_free(toXdrProc(&X_OptionalString), &text);
  } else if (expected == ResultKind::DataValue) {
    if (value.kind == kTextArm) {
      result.value =
          Value::ofText(value.extra, value.text != nullptr ? std::u16string(value.text) : u"");
    } else if (value.kind == kNumberArm) {
      result.value = Value::ofNumber(value.extra, value.value.integer);
    } else if (value.kind != kNullDataValue) {
      xdr_free(toXdrProc(&X_VornDataType), &value);
      throw Error(ErrorKind::UnexpectedReply, describe(program, version, procedure) +
                                                  ": a data value in arm " +
                                                  std::to_string(value.kind));
    }
    xdr_free(toXdrProc(&X_VornDataType), &value);
  }
  return result;
}

std::string displayClassName(const std::string& name) {
  return name.rfind("QOVIX", 0) == 0 && name.size() > 5 ? name.substr(5) : name;
}

namespace {

bool namesModelObject(const std::string& className) {
  return className.rfind("QOVIX", 0) == 0;
}

Error noObject(const Field& field, const std::string& why) {
  return Error(ErrorKind::InvalidHandle, "no object of class " +
                                             displayClassName(field.expectedClass) +
                                             " has handle " + std::to_string(field.word) + why);
}

}  // namespace

void Connection::checkHandle(const Field& field) {
  const std::string named = className(field.word);
  if (named.empty()) throw noObject(field, "");
  if (named != field.expectedClass) {
    throw noObject(field, " (it names a " + displayClassName(named) + "; cast it first)");
  }
  if (namesModelObject(named) && identity(field.word).object == 0) {
    throw noObject(field, " (its object was deleted)");
  }
}

void Connection::checkAfter(std::uint32_t procedure, const std::vector<Field>& fields,
                            const Result& result) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Field& field = fields[i];
    if (field.kind != Field::Kind::Handle || field.expectedClass == nullptr ||
        !namesModelObject(field.expectedClass) || (i == 0 && procedure == kDestroyProcedure)) {
      continue;
    }
    if (identity(field.word).object == 0) {
      throw noObject(field, ": its object went while the call was made, so the answer is the "
                            "procedure's previous one");
    }
  }
  if (result.kind == ResultKind::Handle && result.handle != 0 && className(result.handle).empty()) {
    throw Error(ErrorKind::InvalidHandle,
                "the call made nothing: it answered its previous result, handle " +
                    std::to_string(result.handle) + ", which names nothing");
  }
}

Result Connection::call(std::uint32_t classNumber, std::uint32_t procedure,
                        const std::vector<Field>& fields, ResultKind expected) {
  if (!checked_) return invoke(kModelProgram, classNumber, procedure, fields, expected);
  for (const Field& field : fields) {
    if (field.kind == Field::Kind::Handle && field.expectedClass != nullptr) checkHandle(field);
  }
  Result result = invoke(kModelProgram, classNumber, procedure, fields, expected);
  checkAfter(procedure, fields, result);
  return result;
}

std::uint32_t Connection::cast(std::uint32_t classNumber, std::uint32_t object, bool check) {
  return invoke(kCastProgram, classNumber, kCastProcedure,
                {Field::handle(object), Field::number(check ? 1 : 0)}, ResultKind::Handle)
      .handle;
}

void Connection::ping() { invoke(kHostProgram, kHostVersion, kHostNull, {}, ResultKind::Void); }

std::uint32_t Connection::repository() {
  return invoke(kHostProgram, kHostVersion, kHostRepository, {}, ResultKind::Handle).handle;
}

bool Connection::release(std::uint32_t handle) {
  return invoke(kHostProgram, kHostVersion, kHostRelease, {Field::handle(handle)}, ResultKind::Int)
             .number != 0;
}

std::int32_t Connection::size(std::uint32_t collection) {
  return invoke(kHostProgram, kHostVersion, kHostSize, {Field::handle(collection)},
                ResultKind::Long)
      .number;
}

std::uint32_t Connection::element(std::uint32_t collection, std::int32_t index) {
  return invoke(kHostProgram, kHostVersion, kHostElement,
                {Field::handle(collection), Field::number(index)}, ResultKind::Handle)
      .handle;
}

std::string Connection::className(std::uint32_t handle) {
  return invoke(kHostProgram, kHostVersion, kHostClassName, {Field::handle(handle)},
                ResultKind::OptionalString)
      .text.value_or("");
}

Connection::Identity Connection::identity(std::uint32_t handle) {
  // Two words: the object number and the class number.
  const Result first =
      invoke(kHostProgram, kHostVersion, kHostIdentity, {Field::handle(handle)}, ResultKind::Pair);
  return Identity{first.handle, static_cast<std::uint32_t>(first.number)};
}

std::int32_t Connection::handleCount() {
  return invoke(kHostProgram, kHostVersion, kHostHandleCount, {}, ResultKind::Long).number;
}

}  // namespace qovix::client
