#pragma once

// The host program's procedures, one row each, generated from the protocol
// records (host_procedure_table.cpp): the access a principal needs and the
// adapter that decodes the arguments, calls the procedure's handler
// (host_services.cpp) and answers its result.

#include <cstdint>

#include "host/access_policy.h"
#include "host_handlers.h"

class HostCall;

namespace host_procedures {

struct Row {
  std::uint32_t number;
  const char* name;
  Access access;  // the least a principal needs
  void (*serve)(HostCall& call);
};

// The procedure's row; null for a number the host program does not serve.
const Row* find(std::uint32_t procedure);

}  // namespace host_procedures
