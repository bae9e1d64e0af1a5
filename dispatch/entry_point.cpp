#include "dispatch/entry_point.h"

#include "class_dispatchers.h"

void QOVIX_server_1(svc_req* rqstp, SVCXPRT* transp, ModelCall* modelCall) {
  const std::uint32_t classNumber = modelCall != nullptr ? modelCall->classNumber : 0;
  // One unsigned comparison: 0 wraps to the top and fails like 98 and above.
  if (classNumber - 1u < kClassCount) {
    classRoutes[classNumber - 1u].dispatcher(rqstp, transp, modelCall->templateId);
    return;
  }
  svcerr_noproc(transp);
}
