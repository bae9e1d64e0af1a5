#include "host/principals.h"

#include <netdb.h>

#include <algorithm>
#include <string_view>

#include "qovix_protocol.h"

Principal peerPrincipal(const SVCXPRT* transport) {
  char address[NI_MAXHOST] = "?";
  const netbuf& peer = transport->xp_rtaddr;
  if (peer.buf != nullptr && peer.len > 0) {
    getnameinfo(static_cast<const sockaddr*>(peer.buf), peer.len, address, sizeof address, nullptr,
                0, NI_NUMERICHOST);
  }
  return {address, Principal::Kind::Address};
}

Principal userPrincipal(std::string_view name) {
  const auto allowed = [](char c) {
    return std::string_view(qovix::protocol::kUserNameCharacters).find(c) != std::string_view::npos;
  };
  if (name.empty() || name.size() > qovix::protocol::kLongestUserName ||
      !std::all_of(name.begin(), name.end(), allowed)) {
    return {"", Principal::Kind::User};
  }
  return {"user:" + std::string(name), Principal::Kind::User};
}
