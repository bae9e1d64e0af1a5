#pragma once

// One row of a class's procedure table, and the table itself.

#include <rpc/rpc.h>

#include <span>

#include "xdr/xdr_filter.h"

// A server routine: given the decoded argument record, returns its result
// slot (or null, and then nothing is sent).
using ServerRoutine = void* (*)(void* argp);

struct ProcedureEntry {
  ServerRoutine routine;     // null: no procedure behind this number
  XdrFilter argumentFilter;  // decodes the argument record; frees it again
  unsigned argumentSize;     // bytes of the argument record
  XdrFilter resultFilter;    // encodes the routine's result
};

// Entries indexed by procedure number - 1.
using ProcedureTable = std::span<const ProcedureEntry>;
