#include "dispatch/frame.h"

#include <cstdint>
#include <cstring>

namespace qovix {
namespace {

// Frees a decoded argument record through the transport when the call ends,
// whether the routine returned or threw.
class DecodedArguments {
 public:
  DecodedArguments(SVCXPRT* transp, xdrproc_t filter, void* record)
      : transp_(transp), filter_(filter), record_(record) {}
  DecodedArguments(const DecodedArguments&) = delete;
  DecodedArguments& operator=(const DecodedArguments&) = delete;
  ~DecodedArguments() { transp_->xp_ops->xp_freeargs(transp_, filter_, record_); }

 private:
  SVCXPRT* transp_;
  xdrproc_t filter_;
  void* record_;
};

}  // namespace

void runProcedure(ProcedureTable procedures, svc_req* rqstp, SVCXPRT* transp) {
  // One unsigned comparison: procedure 0 wraps to the top and fails like N + 1.
  const std::uint32_t index = rqstp->rq_proc - 1u;
  if (index >= procedures.size() || procedures[index].routine == nullptr) {
    svcerr_noproc(transp);
    return;
  }
  const ProcedureEntry& entry = procedures[index];
  if (entry.argumentSize > kArgumentRecordCapacity) {
    svcerr_systemerr(transp);
    return;
  }

  const xdrproc_t argumentFilter = toXdrProc(entry.argumentFilter);
  alignas(std::max_align_t) unsigned char record[kArgumentRecordCapacity];
  std::memset(record, 0, entry.argumentSize);
  if (!transp->xp_ops->xp_getargs(transp, argumentFilter, record)) {
    svcerr_decode(transp);
    // A decode that failed part-way may have allocated strings already.
    xdr_free(argumentFilter, record);
    return;
  }

  const DecodedArguments decoded(transp, argumentFilter, record);
  void* result = entry.routine(record);
  if (result != nullptr && !svc_sendreply(transp, toXdrProc(entry.resultFilter), result)) {
    svcerr_systemerr(transp);
  }
}

}  // namespace qovix
