#pragma once

// The server side of one connection's TLS session, on a non-blocking
// socket: the handshake goes a step at a time as the socket allows, and
// records are read and written without waiting, so one slow client holds
// up no other.

#include <gnutls/gnutls.h>

#include <cstddef>
#include <string>

#include "host/tls_credentials.h"

class TlsSession {
 public:
  enum class Step { Done, WantRead, WantWrite, Failed };

  // Throws std::bad_alloc when GnuTLS cannot make the session.
  TlsSession(int fd, const TlsCredentials& credentials);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Goes on with the handshake as far as the socket allows.
  Step handshake();
  // The verified client certificate's subject (RFC 4514 form); empty when
  // the client presented none.
  std::string clientSubject() const;

  // Reads what has arrived into `buffer`: the count, 0 when nothing had,
  // -1 when the session has ended or failed.
  long read(char* buffer, std::size_t size);
  // Whether decrypted bytes wait in the session beyond what read gave.
  bool hasPending() const;
  // Writes as much of `bytes` as the socket takes now: the count, -1 when
  // the session failed. Bytes that were encrypted but not yet sent count as
  // written only once they are; call again with the same bytes.
  long write(const char* bytes, std::size_t length);

 private:
  gnutls_session_t session_ = nullptr;
  std::size_t unsent_ = 0;  // bytes of a record GnuTLS holds, to be flushed
};
