#include "client/tls_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

#include "client/error.h"
#include "qovix_protocol.h"

namespace qovix::client {
namespace {

using protocol::kLastFragment;
constexpr std::size_t kMostReplyBytes = 64u << 20;
const gnutls_datum_t kSunrpc = {
    const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(qovix::protocol::kTlsAlpn)),
    sizeof qovix::protocol::kTlsAlpn - 1};

[[noreturn]] void refuse(const std::string& endpoint, const std::string& why) {
  throw Error(ErrorKind::CannotConnect, "no TLS with qovixd at " + endpoint + ": " + why);
}

// Writes the call header and the arguments into `record`, after room for
// the record mark.
bool encodeCall(std::vector<char>& record, const rpc_msg& header, xdrproc_t encode,
                void* arguments) {
  for (std::size_t size = 4096;; size *= 2) {
    record.assign(size, 0);
    XDR xdrs;
    xdrmem_create(&xdrs, record.data() + 4, static_cast<u_int>(size - 4), XDR_ENCODE);
    rpc_msg copy = header;
    const bool encoded =
        xdr_callmsg(&xdrs, &copy) && (encode == nullptr || encode(&xdrs, arguments));
    const u_int length = xdr_getpos(&xdrs);
    xdr_destroy(&xdrs);
    if (encoded) {
      record.resize(4 + length);
      const std::uint32_t mark = htonl(kLastFragment | length);
      std::memcpy(record.data(), &mark, 4);
      return true;
    }
    if (size > kMostReplyBytes) return false;
  }
}

}  // namespace

void TlsChannel::setTimeout(std::chrono::milliseconds timeout) {
  timeval limit{static_cast<time_t>(timeout.count() / 1000),
                static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

TlsChannel::TlsChannel(const addrinfo& where, const std::string& host, const std::string& endpoint,
                       const TlsOptions& options, std::chrono::milliseconds timeout)
    : xid_(std::random_device{}()) {
  fd_ = ::socket(where.ai_family, SOCK_STREAM | SOCK_CLOEXEC, where.ai_protocol);
  if (fd_ < 0) refuse(endpoint, std::strerror(errno));
  setTimeout(timeout);
  // A flight of the handshake, and each call, goes out at once.
  const int noDelay = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  try {
    if (connect(fd_, where.ai_addr, where.ai_addrlen) != 0) {
      throw Error(ErrorKind::CannotConnect,
                  "cannot reach qovixd at " + endpoint + ": " + std::strerror(errno));
    }
    // The probe, in plain text: a NULL call with the AUTH_TLS credential.
    rpc_msg probe{};
    probe.rm_xid = ++xid_;
    probe.rm_direction = CALL;
    probe.rm_call = {2,
                     protocol::kHostProgram,
                     protocol::kHostVersion,
                     0,
                     {static_cast<int>(protocol::kAuthTls), nullptr, 0},
                     {AUTH_NONE, nullptr, 0}};
    std::vector<char> record;
    if (!encodeCall(record, probe, nullptr, nullptr) ||
        ::send(fd_, record.data(), record.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(record.size())) {
      refuse(endpoint, "the probe could not be sent");
    }
    // Its answer, read a byte at a time up to its end, so that nothing of
    // the TLS session is taken with it.
    std::vector<unsigned char> answer(4);
    if (recv(fd_, answer.data(), 4, MSG_WAITALL) != 4) refuse(endpoint, "the probe got no answer");
    std::uint32_t mark = 0;
    std::memcpy(&mark, answer.data(), 4);
    const std::uint32_t length = ntohl(mark) & ~kLastFragment;
    if (length > 64) refuse(endpoint, "the probe's answer is no RPC-with-TLS answer");
    answer.resize(length);
    if (recv(fd_, answer.data(), length, MSG_WAITALL) != static_cast<ssize_t>(length)) {
      refuse(endpoint, "the probe's answer was cut");
    }
    // xid, REPLY, MSG_ACCEPTED, AUTH_NONE, 8, "STARTTLS", SUCCESS.
    const std::uint32_t expected[] = {htonl(probe.rm_xid), htonl(REPLY), htonl(MSG_ACCEPTED),
                                      htonl(AUTH_NONE), htonl(8)};
    if (length != 32 || std::memcmp(answer.data(), expected, 20) != 0 ||
        std::memcmp(answer.data() + 20, protocol::kStartTls, 8) != 0) {
      refuse(endpoint, "the server does not offer RPC-with-TLS");
    }

    if (gnutls_certificate_allocate_credentials(&credentials_) < 0) throw std::bad_alloc();
    const int trusted = options.authority.empty()
                            ? gnutls_certificate_set_x509_system_trust(credentials_)
                            : gnutls_certificate_set_x509_trust_file(
                                  credentials_, options.authority.c_str(), GNUTLS_X509_FMT_PEM);
    if (trusted <= 0) refuse(endpoint, "no CA certificate to verify the server with");
    if (!options.certificate.empty() &&
        gnutls_certificate_set_x509_key_file(credentials_, options.certificate.c_str(),
                                             options.key.c_str(), GNUTLS_X509_FMT_PEM) < 0) {
      refuse(endpoint, "cannot use the certificate '" + options.certificate + "' with its key");
    }
    const char* failedAt = nullptr;
    if (gnutls_init(&session_, GNUTLS_CLIENT) < 0 ||
        gnutls_priority_set_direct(session_, protocol::kTlsPriorities, &failedAt) < 0 ||
        gnutls_credentials_set(session_, GNUTLS_CRD_CERTIFICATE, credentials_) < 0 ||
        gnutls_alpn_set_protocols(session_, &kSunrpc, 1, GNUTLS_ALPN_MANDATORY) < 0) {
      throw std::bad_alloc();
    }
    // The server's certificate must name the host asked for.
    gnutls_session_set_verify_cert(session_, host.c_str(), 0);
    if (inet_addr(host.c_str()) == INADDR_NONE && host.find(':') == std::string::npos) {
      gnutls_server_name_set(session_, GNUTLS_NAME_DNS, host.data(), host.size());
    }
    gnutls_transport_set_int(session_, fd_);
    // A server gone must not be the program's SIGPIPE.
    gnutls_transport_set_push_function(
        session_, [](gnutls_transport_ptr_t socket, const void* data, std::size_t size) noexcept {
          return ::send(static_cast<int>(reinterpret_cast<std::intptr_t>(socket)), data, size,
                        MSG_NOSIGNAL);
        });
    int status = 0;
    do {
      status = gnutls_handshake(session_);
    } while (status < 0 && gnutls_error_is_fatal(status) == 0);
    if (status < 0)
      refuse(endpoint, std::string("the handshake failed: ") + gnutls_strerror(status));
  } catch (...) {
    if (session_ != nullptr) gnutls_deinit(session_);
    if (credentials_ != nullptr) gnutls_certificate_free_credentials(credentials_);
    close(fd_);
    throw;
  }
}

TlsChannel::~TlsChannel() {
  gnutls_bye(session_, GNUTLS_SHUT_WR);
  gnutls_deinit(session_);
  gnutls_certificate_free_credentials(credentials_);
  close(fd_);
}

bool TlsChannel::serverHungUp() const {
  if (gnutls_record_check_pending(session_) > 0) return false;
  pollfd entry{fd_, POLLIN, 0};
  return poll(&entry, 1, 0) > 0;  // nothing is due, so readable means it ended
}

bool TlsChannel::sendRecord(const std::vector<char>& record) {
  std::size_t done = 0;
  while (done < record.size()) {
    const ssize_t sent = gnutls_record_send(session_, record.data() + done, record.size() - done);
    if (sent == GNUTLS_E_INTERRUPTED || sent == GNUTLS_E_AGAIN) continue;
    if (sent < 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

bool TlsChannel::receiveRecord(std::vector<char>& record) {
  record.clear();
  auto take = [&](char* into, std::size_t count) {
    for (std::size_t done = 0; done < count;) {
      const ssize_t got = gnutls_record_recv(session_, into + done, count - done);
      if (got == GNUTLS_E_INTERRUPTED) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  };
  for (;;) {
    std::uint32_t mark = 0;
    if (!take(reinterpret_cast<char*>(&mark), 4)) return false;
    mark = ntohl(mark);
    const std::size_t length = mark & ~kLastFragment;
    if (record.size() + length > kMostReplyBytes) return false;
    const std::size_t at = record.size();
    record.resize(at + length);
    if (!take(record.data() + at, length)) return false;
    if ((mark & kLastFragment) != 0) return true;
  }
}

clnt_stat TlsChannel::call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                           xdrproc_t encode, void* arguments, xdrproc_t filter, void* into,
                           rpc_err& error) {
  rpc_msg header{};
  header.rm_xid = ++xid_;
  header.rm_direction = CALL;
  header.rm_call = {
      2, program, version, procedure, {AUTH_NONE, nullptr, 0}, {AUTH_NONE, nullptr, 0}};
  std::vector<char> record;
  if (!encodeCall(record, header, encode, arguments)) return RPC_CANTENCODEARGS;
  if (!sendRecord(record)) return RPC_CANTSEND;
  if (!receiveRecord(record)) return RPC_CANTRECV;
  XDR xdrs;
  xdrmem_create(&xdrs, record.data(), static_cast<u_int>(record.size()), XDR_DECODE);
  rpc_msg reply{};
  reply.acpted_rply.ar_verf = _null_auth;
  reply.acpted_rply.ar_results = {static_cast<caddr_t>(into), filter};
  const bool decoded = xdr_replymsg(&xdrs, &reply) != 0;
  xdr_destroy(&xdrs);
  if (!decoded) return RPC_CANTDECODERES;
  if (reply.rm_xid != header.rm_xid) return RPC_CANTDECODERES;
  _seterr_reply(&reply, &error);
  return error.re_status;
}

}  // namespace qovix::client
