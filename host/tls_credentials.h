#pragma once

// What qovixd's TLS sessions share: its certificate and key, the CA that
// signs client certificates (mutual TLS), TLS 1.3 only, and the ALPN
// protocol "sunrpc" that RPC-with-TLS (RFC 9289) names. GnuTLS.

#include <gnutls/gnutls.h>

#include <string>

class TlsCredentials {
 public:
  // Throws HostError naming the file at fault.
  TlsCredentials(const std::string& certificate, const std::string& key,
                 const std::string& authority);
  ~TlsCredentials();
  TlsCredentials(const TlsCredentials&) = delete;
  TlsCredentials& operator=(const TlsCredentials&) = delete;

  gnutls_certificate_credentials_t certificates() const { return certificates_; }
  gnutls_priority_t priorities() const { return priorities_; }
  // Whether clients must present a certificate the CA signed.
  bool verifiesClients() const { return verifiesClients_; }

 private:
  gnutls_certificate_credentials_t certificates_ = nullptr;
  gnutls_priority_t priorities_ = nullptr;
  bool verifiesClients_ = false;
};
