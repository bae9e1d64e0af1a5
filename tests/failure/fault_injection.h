#pragma once

// Failures on demand, for the failure tests: the n-th allocation from now
// fails (operator new throws std::bad_alloc, its nothrow form gives null),
// or the n-th operation of a repository's store throws, as a model library
// whose storage fails would. Only the first armed fault fires; disarming
// reports whether it did.
//
//   faults::arm(faults::Kind::Allocation, 3);
//   call();                        // its third allocation fails
//   const bool fired = faults::disarm();

#include <cstddef>
#include <memory>

#include "store/persistent_store.h"

namespace faults {

enum class Kind { Allocation, StoreOperation };

void arm(Kind kind, std::size_t nth);
// Disarms; whether the armed fault fired.
bool disarm();

// While one lives, nothing fails: for the test's own work inside a call.
class Suspended {
 public:
  Suspended();
  ~Suspended();
  Suspended(const Suspended&) = delete;
  Suspended& operator=(const Suspended&) = delete;
};

}  // namespace faults

// `store`, whose every operation can be the one that fails.
std::unique_ptr<PersistentStore> makeFaultyStore(std::unique_ptr<PersistentStore> store);
