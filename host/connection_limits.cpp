#include "host/connection_limits.h"

#include <sys/resource.h>

#include <algorithm>

ConnectionLimits fitToDescriptorLimit(ConnectionLimits limits) {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) != 0) return limits;
  const rlim_t needed = limits.maxConnections + kReservedDescriptors;
  if (descriptors.rlim_cur < needed) {
    descriptors.rlim_cur = std::min(needed, descriptors.rlim_max);
    setrlimit(RLIMIT_NOFILE, &descriptors);
    getrlimit(RLIMIT_NOFILE, &descriptors);
  }
  const rlim_t available = descriptors.rlim_cur > kReservedDescriptors + 1
                               ? descriptors.rlim_cur - kReservedDescriptors
                               : 1;
  limits.maxConnections = std::min<std::size_t>(limits.maxConnections, available);
  return limits;
}
