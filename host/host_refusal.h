#pragma once

// A host service that answers its refusal as an Outcome (0, and why), so
// that the reason reaches a user far from the server's log.

#include <new>
#include <stdexcept>

#include "host/host_call.h"
#include "host/serving_context.h"
#include "wire_records.h"

namespace host_procedures {

// Runs `serve`; what it throws (but memory running out) is answered as the
// refusal, and whatever the call changed is undone.
template <class Serve>
qovix::Outcome refusing(HostCall& call, Serve serve) {
  try {
    return serve();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    call.serving().undoWhenReplying();
    return {0, error.what()};
  }
}

}  // namespace host_procedures
