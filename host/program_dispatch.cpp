#include "host/program_dispatch.h"

#include <new>

#include "host/call_site.h"
#include "host/serving_context.h"

namespace {

// Finds what serves the transport's call and for whom, and hands it on.
template <void (ServingContext::*serve)(svc_req*, SVCXPRT*, const Caller&)>
void dispatch(svc_req* rqstp, SVCXPRT* transp) {
  const CallSite& site = callSiteOf(transp);
  ServingContext* serving = site.serving();
  if (serving == nullptr) {
    svcerr_systemerr(transp);
    return;
  }
  Caller caller;
  try {
    caller.principal = site.principal();
    caller.key = caller.principal.key();
  } catch (const std::bad_alloc&) {
    svcerr_systemerr(transp);  // no memory to name it
    return;
  }
  (serving->*serve)(rqstp, transp, caller);
}

}  // namespace

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp) {
  dispatch<&ServingContext::serveModel>(rqstp, transp);
}

void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp) {
  dispatch<&ServingContext::serveCast>(rqstp, transp);
}

void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp) {
  dispatch<&ServingContext::serveHost>(rqstp, transp);
}
