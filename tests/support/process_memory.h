#pragma once

// A process's resident memory, from /proc, for tests that watch a server.

#include <sys/types.h>

struct ResidentMemory {
  long kilobytes = -1;      // now (VmRSS)
  long peakKilobytes = -1;  // the most it has held (VmHWM)
};

ResidentMemory residentMemory(pid_t pid);
