// A shared library around the at-exit list alone, so a test can watch the
// list run when the library is unloaded.

#include "dispatch/at_exit_list.h"

extern "C" __attribute__((visibility("default"))) bool probeRegisterAtExit(
    qovix::AtExitAction action, void* context) {
  return qovix::registerAtExit(action, context);
}
