#include "host/program_dispatch.h"

#include <cstdio>
#include <exception>

#include "client/protocol.h"
#include "dispatch/model_call.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

namespace {

// The runtime's dispatch functions carry no context, so what they serve
// lives here.
QovixServerEntry modelEntry = nullptr;
InteropHandle repositoryHandle = 0;

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

void startServing(QovixServerEntry entry, unsigned long repository) {
  modelEntry = entry;
  repositoryHandle = static_cast<InteropHandle>(repository);
}

void stopServing() {
  modelEntry = nullptr;
  repositoryHandle = 0;
}

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp) { callLibrary(rqstp, transp, 0); }

void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp) {
  callLibrary(rqstp, transp, kCastTemplateId);
}

void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp) {
  switch (rqstp->rq_proc) {
    case qovix::protocol::kHostNull:
      svc_sendreply(transp, toXdrProc(&voidFilter), nullptr);
      return;
    case qovix::protocol::kHostRepository:
      svc_sendreply(transp, toXdrProc(&X_InteropHandle), &repositoryHandle);
      return;
    default:
      svcerr_noproc(transp);
      return;
  }
}
