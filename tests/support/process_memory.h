#pragma once

// A process's resident memory, from /proc, for tests that watch a server.

#include <sys/types.h>

struct ResidentMemory {
  long kilobytes = -1;      // now (VmRSS)
  long peakKilobytes = -1;  // the most it has held (VmHWM)
};

ResidentMemory residentMemory(pid_t pid);

// AddressSanitizer keeps freed memory in quarantine, so under it resident
// memory says little about what a server holds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif
