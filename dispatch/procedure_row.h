#pragma once

// How generated procedure tables spell a row: the typed argument and result
// filters fix the record type, and so the record's size, at compile time.
//
//   procedureRow<&X_HandleValue, &voidFilter>()   // set_tag_0, no routine yet

#include <cstdint>

#include "dispatch/frame.h"
#include "dispatch/procedure_entry.h"
#include "xdr/xdr_filter.h"

// What a procedure without arguments gets: a record that is never read.
inline constexpr unsigned kMinimalRecordSize = sizeof(std::int32_t);

template <class Record>
constexpr unsigned recordSize(bool_t (*)(XDR*, Record*)) {
  return sizeof(Record);
}

constexpr unsigned recordSize(bool_t (*)(XDR*, void*)) { return kMinimalRecordSize; }

template <auto ArgumentFilter, auto ResultFilter>
constexpr ProcedureEntry procedureRow(ServerRoutine routine = nullptr) {
  static_assert(recordSize(ArgumentFilter) <= qovix::kArgumentRecordCapacity,
                "the frame has no room for this argument record");
  return {routine, untypedFilter<ArgumentFilter>, recordSize(ArgumentFilter),
          untypedFilter<ResultFilter>};
}
