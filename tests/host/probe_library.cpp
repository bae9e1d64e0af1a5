// Stands in for libQOVIX_os.so in the host's tests. It answers every call
// with the model-call record and procedure number it was given, so a test
// sees exactly how the host addressed the library; two class numbers make it
// throw instead. It says on stderr when it is unloaded.

#include "tests/host/probe_library.h"

#include <rpc/rpc.h>

#include <cstdio>
#include <stdexcept>

#include "dispatch/entry_point.h"
#include "xdr/xdr_filter.h"

namespace {

__attribute__((destructor)) void announceUnload() { std::fputs(kProbeUnloadedLine, stderr); }

}  // namespace

void QOVIX_server_1(svc_req* rqstp, SVCXPRT* transp, ModelCall* modelCall) {
  if (modelCall->classNumber == kProbeThrowingClass) throw std::runtime_error("probe failure");
  if (modelCall->classNumber == kProbeThrowingAnythingClass) throw 42;
  ProbeEcho echo{modelCall->hostProgram, modelCall->hostVersion, modelCall->classNumber,
                 modelCall->templateId, rqstp->rq_proc};
  svc_sendreply(transp, toXdrProc(&X_ProbeEcho), &echo);
}
