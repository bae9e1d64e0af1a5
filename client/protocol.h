#pragma once

// How clients address a qovixd server: the ONC RPC programs it serves and
// what their versions and procedure numbers mean.
//
//   model program 0x20241000  version = class number (1..97),
//                             procedure = the class's procedure number (1..N)
//   cast program  0x20241001  version = class number, procedure 1 = the
//                             class's cast procedure
//   host program  0x20241002  version 1: services of the server itself
//
// A version outside a program's range gets the standard program-version
// mismatch reply, which names the versions served. The model and cast
// programs have no null procedure: procedure 0 is answered
// procedure-unavailable.

#include <cstdint>

namespace qovix::protocol {

inline constexpr std::uint32_t kModelProgram = 0x20241000;
inline constexpr std::uint32_t kCastProgram = 0x20241001;
inline constexpr std::uint32_t kHostProgram = 0x20241002;

inline constexpr std::uint32_t kFirstClassNumber = 1;
inline constexpr std::uint32_t kLastClassNumber = 97;

inline constexpr std::uint32_t kCastProcedure = 1;
// Every class's destroy_0: its handle names nothing after it.
inline constexpr std::uint32_t kDestroyProcedure = 4;

inline constexpr std::uint32_t kHostVersion = 1;

// Procedures of the host program.
enum HostProcedure : std::uint32_t {
  kHostNull = 0,         // no arguments, empty reply: is the server there?
  kHostRepository = 1,   // no arguments; the handle of the repository served
  kHostRelease = 2,      // handle; int 1 when it was released (what it names deleted,
                         // the handle dropped), 0 for an invalid handle or the repository's
  kHostSize = 3,         // handle of a collection or array; long: its size, -1 for no collection
  kHostElement = 4,      // handle of a collection, long index; handle of a new object of
                         // the element class on that member, 0 when there is none
  kHostClassName = 5,    // handle; optional string: "QOVIXClass", "VornSet<QOVIXClass>",
                         // "VORN", absent for an invalid handle
  kHostHandleCount = 6,  // no arguments; long: how many handles are registered
  kHostIdentity = 7,     // handle; the persistent object it names, as X_HandleLong: its
                         // object number and the class number it was created as (0, 0
                         // when it names none)
};

// The port qovixd serves on, TCP and UDP alike, unless told otherwise.
inline constexpr std::uint16_t kDefaultPort = 20241;

}  // namespace qovix::protocol
