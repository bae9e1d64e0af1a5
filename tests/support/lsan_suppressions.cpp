// Tests that talk to qovixd use libtirpc's client side (clnt_create, rpcb_getaddr),
// which keeps a few small allocations it never frees. Those leaks are the
// runtime's, in this test process only; qovixd runs with no suppression.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libtirpc.so\n";
}
