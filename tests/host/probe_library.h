#pragma once

// What the probe library answers, for the host's tests.

#include <rpc/xdr.h>

#include <cstdint>

struct ProbeEcho {
  std::uint32_t hostProgram;
  std::uint32_t hostVersion;
  std::uint32_t classNumber;
  std::int32_t templateId;
  std::uint32_t procedure;
};

// Calls for these classes throw a std::runtime_error, and an int.
inline constexpr std::uint32_t kProbeThrowingClass = 66;
inline constexpr std::uint32_t kProbeThrowingAnythingClass = 67;

inline constexpr const char* kProbeUnloadedLine = "probe library unloaded\n";

inline bool_t X_ProbeEcho(XDR* xdrs, ProbeEcho* echo) {
  return xdr_u_int32_t(xdrs, &echo->hostProgram) && xdr_u_int32_t(xdrs, &echo->hostVersion) &&
         xdr_u_int32_t(xdrs, &echo->classNumber) && xdr_int32_t(xdrs, &echo->templateId) &&
         xdr_u_int32_t(xdrs, &echo->procedure);
}
