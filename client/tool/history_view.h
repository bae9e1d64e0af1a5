#pragma once

// The repository's history as `qovix log` prints it, for people: each
// commit's number, time, principal and server, then what it changed, each
// slot's value before -> after.

#include <cstdint>
#include <ostream>
#include <string>

#include "client/connection.h"

namespace qovix::tool {

struct LogRequest {
  std::uint64_t since = 0;    // commits after this one
  std::uint32_t object = 0;   // that object's history alone (newest first); 0 for every commit
  bool follow = false;        // then wait for new commits, and print each as it comes
  bool historyShown = false;  // the object's history is printed: follow from `since`
};

// Prints the log as asked, keeping in `request` how far it got: following,
// it never returns by itself, and when its server goes it can go on with
// another from there.
void printLog(client::Connection& connection, LogRequest& request, std::ostream& out);

// One change, as a line: "#2 ModelElement.name: (unset) -> 'Account'".
std::string describeChange(const WireChange& change);

}  // namespace qovix::tool
