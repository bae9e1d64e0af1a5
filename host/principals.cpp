#include "host/principals.h"

#include <netdb.h>

#include <unordered_map>

namespace {

// The runtime's dispatch functions carry no context of ours, so the names
// the TLS sessions gave live here, by transport.
std::unordered_map<const SVCXPRT*, std::string>& named() {
  static std::unordered_map<const SVCXPRT*, std::string> principals;
  return principals;
}

}  // namespace

void namePrincipal(const SVCXPRT* transport, std::string subject) {
  named()[transport] = std::move(subject);
}

void forgetPrincipal(const SVCXPRT* transport) { named().erase(transport); }

Principal principalOf(const SVCXPRT* transport) {
  if (const auto found = named().find(transport); found != named().end()) {
    return {found->second, true};
  }
  char address[NI_MAXHOST] = "?";
  const netbuf& peer = transport->xp_rtaddr;
  if (peer.buf != nullptr && peer.len > 0) {
    getnameinfo(static_cast<const sockaddr*>(peer.buf), peer.len, address, sizeof address,
                nullptr, 0, NI_NUMERICHOST);
  }
  return {address, false};
}
