#include "host/principals.h"

#include <netdb.h>

#include <algorithm>

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
  constexpr std::size_t kLongestUserName = 64;
  const auto allowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == '@' || c == '+';
  };
  if (name.empty() || name.size() > kLongestUserName ||
      !std::all_of(name.begin(), name.end(), allowed)) {
    return {"", Principal::Kind::User};
  }
  return {"user:" + std::string(name), Principal::Kind::User};
}
