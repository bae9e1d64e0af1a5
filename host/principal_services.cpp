// The host program's services over who calls: what a caller may do, and a
// trusted certificate's word for the user its connection acts for.

#include <string>

#include "host/call_site.h"
#include "host/host_call.h"
#include "host/serving_context.h"
#include "host_handlers.h"

namespace host_procedures {

namespace {

udt_integer accessNumber(Access access) {
  switch (access) {
    case Access::Write:
      return 2;
    case Access::Read:
      return 1;
    case Access::None:
      break;
  }
  return 0;
}

}  // namespace

qovix::Outcome serveActFor(HostCall& call, std::string name) {
  const AccessPolicy& policy = call.serving().accessPolicy();
  const Principal& voucher = call.principal();
  if (voucher.kind == Principal::Kind::User) {
    return {0, "this connection acts for " + voucher.name +
                   " already; a connection acts for one "
                   "user"};
  }
  if (!voucher.certified() || !policy.vouches(voucher.name)) {
    return {0,
            "the access file does not trust this client to act for users: it takes a 'vouch' "
            "line naming the subject of its certificate"};
  }
  const Principal user = userPrincipal(name);
  if (user.name.empty()) {
    return {0, "a user's name is 1 to 64 ASCII letters, digits and . _ - @ +"};
  }
  const Access access = policy.of(user.name);
  if (access == Access::None) return {0, user.name + " has no access"};
  if (!callSiteOf(call.transport()).actFor(user)) {
    return {0, "this connection cannot act for a user"};
  }
  call.serving().log().record(call.principalKey() + " acts for " + user.name);
  return {static_cast<std::uint64_t>(accessNumber(access)), {}};
}

udt_integer serveAccess(HostCall& call) {
  return accessNumber(call.serving().accessPolicy().of(call.principal().name));
}

}  // namespace host_procedures
