#include "host/principals.h"

#include <netdb.h>

Principal peerPrincipal(const SVCXPRT* transport) {
  char address[NI_MAXHOST] = "?";
  const netbuf& peer = transport->xp_rtaddr;
  if (peer.buf != nullptr && peer.len > 0) {
    getnameinfo(static_cast<const sockaddr*>(peer.buf), peer.len, address, sizeof address, nullptr,
                0, NI_NUMERICHOST);
  }
  return {address, false};
}
