#include "host/connection_limits.h"

#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace {

// How many descriptors the process holds now (standard streams, whatever
// it inherited).
std::size_t openDescriptors() {
  std::error_code error;
  const std::filesystem::directory_iterator listing("/proc/self/fd", error);
  if (error) return 16;  // no /proc: a generous guess
  // The listing's own descriptor is among those it lists.
  return static_cast<std::size_t>(std::distance(listing, std::filesystem::directory_iterator{})) -
         1;
}

}  // namespace

ConnectionLimits fitToDescriptorLimit(ConnectionLimits limits) {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) != 0) return limits;
  const rlim_t reserved = openDescriptors() + kServerDescriptors;
  // As far as the cap needs and the hard limit allows; not further, since
  // the runtime sizes its tables by the soft limit.
  const rlim_t needed = limits.maxConnections + reserved;
  if (descriptors.rlim_cur < needed) {
    descriptors.rlim_cur = std::min(needed, descriptors.rlim_max);
    setrlimit(RLIMIT_NOFILE, &descriptors);
    getrlimit(RLIMIT_NOFILE, &descriptors);
  }
  const rlim_t available = descriptors.rlim_cur > reserved ? descriptors.rlim_cur - reserved : 1;
  limits.maxConnections = std::min<std::size_t>(limits.maxConnections, available);
  return limits;
}
