#include "host/program_dispatch.h"

#include <cstdio>
#include <exception>

#include "client/protocol.h"
#include "dispatch/model_call.h"
#include "xdr/xdr_filter.h"

namespace {

// The runtime's dispatch functions carry no context, so the entry lives here.
QovixServerEntry modelEntry = nullptr;

void reportEscapedException(const ModelCall& call, std::uint32_t procedure, const char* what) {
  std::fprintf(stderr, "qovixd: class %u procedure %u%s: exception from the library: %s\n",
               call.classNumber, procedure, call.templateId == kCastTemplateId ? " (cast)" : "",
               what);
}

void callLibrary(svc_req* rqstp, SVCXPRT* transp, std::int32_t templateId) {
  // The class number is the version the client called.
  ModelCall call{rqstp->rq_prog, rqstp->rq_vers, rqstp->rq_vers, templateId};
  if (modelEntry == nullptr) {
    svcerr_systemerr(transp);
    return;
  }
  try {
    modelEntry(rqstp, transp, &call);
  } catch (const std::exception& error) {
    reportEscapedException(call, rqstp->rq_proc, error.what());
    svcerr_systemerr(transp);
  } catch (...) {
    reportEscapedException(call, rqstp->rq_proc, "not a std::exception");
    svcerr_systemerr(transp);
  }
}

}  // namespace

void setModelEntry(QovixServerEntry entry) { modelEntry = entry; }

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp) { callLibrary(rqstp, transp, 0); }

void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp) {
  callLibrary(rqstp, transp, kCastTemplateId);
}

void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp) {
  switch (rqstp->rq_proc) {
    case qovix::protocol::kHostNull:
      svc_sendreply(transp, toXdrProc(&voidFilter), nullptr);
      return;
    default:
      svcerr_noproc(transp);
      return;
  }
}
