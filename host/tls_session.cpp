#include "host/tls_session.h"

#include <gnutls/x509.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "qovix_protocol.h"

namespace {

// RFC 9289's ALPN protocol identifier.
const gnutls_datum_t kSunrpc = {
    const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(qovix::protocol::kTlsAlpn)),
    sizeof qovix::protocol::kTlsAlpn - 1};
// What one record carries at most.
constexpr std::size_t kRecordBytes = 16384;

}  // namespace

TlsSession::TlsSession(int fd, const TlsCredentials& credentials) {
  if (gnutls_init(&session_, GNUTLS_SERVER | GNUTLS_NONBLOCK) < 0) throw std::bad_alloc();
  if (gnutls_priority_set(session_, credentials.priorities()) < 0 ||
      gnutls_credentials_set(session_, GNUTLS_CRD_CERTIFICATE, credentials.certificates()) < 0 ||
      gnutls_alpn_set_protocols(session_, &kSunrpc, 1, GNUTLS_ALPN_MANDATORY) < 0) {
    gnutls_deinit(session_);
    throw std::bad_alloc();
  }
  if (credentials.verifiesClients()) {
    // The handshake fails unless the client's certificate verifies against
    // the CA, in its time of validity.
    gnutls_certificate_server_set_request(session_, GNUTLS_CERT_REQUIRE);
    gnutls_session_set_verify_cert(session_, nullptr, 0);
  }
  gnutls_transport_set_int(session_, fd);
  // A client gone is its connection's end, never a SIGPIPE.
  gnutls_transport_set_push_function(
      session_, [](gnutls_transport_ptr_t socket, const void* data, std::size_t size) noexcept {
        return ::send(static_cast<int>(reinterpret_cast<std::intptr_t>(socket)), data, size,
                      MSG_NOSIGNAL | MSG_DONTWAIT);
      });
  gnutls_handshake_set_timeout(session_, 0);  // the listener bounds the time itself
}

TlsSession::~TlsSession() { gnutls_deinit(session_); }

TlsSession::Step TlsSession::handshake() {
  const int status = gnutls_handshake(session_);
  if (status == GNUTLS_E_SUCCESS) return Step::Done;
  if (status == GNUTLS_E_AGAIN || status == GNUTLS_E_INTERRUPTED) {
    return gnutls_record_get_direction(session_) == 1 ? Step::WantWrite : Step::WantRead;
  }
  if (gnutls_error_is_fatal(status) == 0) return Step::WantRead;  // a warning alert
  return Step::Failed;
}

std::string TlsSession::clientSubject() const {
  unsigned count = 0;
  const gnutls_datum_t* chain = gnutls_certificate_get_peers(session_, &count);
  if (chain == nullptr || count == 0) return {};
  gnutls_x509_crt_t certificate = nullptr;
  if (gnutls_x509_crt_init(&certificate) < 0) return {};
  std::string subject;
  gnutls_datum_t name{};
  if (gnutls_x509_crt_import(certificate, &chain[0], GNUTLS_X509_FMT_DER) >= 0 &&
      gnutls_x509_crt_get_dn3(certificate, &name, 0) >= 0) {
    subject.assign(reinterpret_cast<const char*>(name.data), name.size);
    gnutls_free(name.data);
  }
  gnutls_x509_crt_deinit(certificate);
  return subject;
}

long TlsSession::read(char* buffer, std::size_t size) {
  const ssize_t count = gnutls_record_recv(session_, buffer, size);
  if (count > 0) return static_cast<long>(count);
  if (count == GNUTLS_E_AGAIN || count == GNUTLS_E_INTERRUPTED) return 0;
  return -1;  // closed (0), or failed
}

bool TlsSession::hasPending() const { return gnutls_record_check_pending(session_) > 0; }

long TlsSession::write(const char* bytes, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    // GnuTLS keeps a record it could not send; it is sent by a call with no
    // data, and only then do its bytes count.
    const ssize_t sent = unsent_ > 0 ? gnutls_record_send(session_, nullptr, 0)
                                     : gnutls_record_send(session_, bytes + done,
                                                          std::min(length - done, kRecordBytes));
    if (sent == GNUTLS_E_AGAIN || sent == GNUTLS_E_INTERRUPTED) {
      if (unsent_ == 0) unsent_ = std::min(length - done, kRecordBytes);
      break;
    }
    if (sent < 0) return -1;
    done += unsent_ > 0 ? unsent_ : static_cast<std::size_t>(sent);
    unsent_ = 0;
  }
  return static_cast<long>(done);
}
