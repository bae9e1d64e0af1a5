#include "host/tls_credentials.h"

#include "host/host_error.h"
#include "qovix_protocol.h"

namespace {

void check(int status, const std::string& what) {
  if (status < 0) throw HostError(what + ": " + gnutls_strerror(status));
}

}  // namespace

TlsCredentials::TlsCredentials(const std::string& certificate, const std::string& key,
                               const std::string& authority) {
  check(gnutls_certificate_allocate_credentials(&certificates_), "TLS credentials");
  try {
    check(gnutls_certificate_set_x509_key_file(certificates_, certificate.c_str(), key.c_str(),
                                               GNUTLS_X509_FMT_PEM),
          "cannot use the TLS certificate '" + certificate + "' with the key '" + key + "'");
    if (!authority.empty()) {
      const int loaded = gnutls_certificate_set_x509_trust_file(certificates_, authority.c_str(),
                                                                GNUTLS_X509_FMT_PEM);
      check(loaded, "cannot read the CA certificate '" + authority + "'");
      if (loaded == 0) throw HostError("the CA file '" + authority + "' holds no certificate");
      verifiesClients_ = true;
    }
    // TLS 1.3 alone: RFC 9289 asks for 1.3 or later.
    const char* failedAt = nullptr;
    check(gnutls_priority_init(&priorities_, qovix::protocol::kTlsPriorities, &failedAt),
          "TLS priorities");
  } catch (...) {
    gnutls_certificate_free_credentials(certificates_);
    throw;
  }
}

TlsCredentials::~TlsCredentials() {
  gnutls_priority_deinit(priorities_);
  gnutls_certificate_free_credentials(certificates_);
}
