#pragma once

// Where a class number leads: the class's name, its dispatcher and its
// procedure table. The generated route table holds one per class, in
// class-number order.

#include <rpc/rpc.h>

#include <cstdint>

#include "dispatch/procedure_entry.h"

using ClassDispatcher = void (*)(svc_req* rqstp, SVCXPRT* transp, std::int32_t templateId);

struct ClassRoute {
  const char* name;
  ClassDispatcher dispatcher;
  ProcedureTable procedures;
};
