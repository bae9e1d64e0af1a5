#include "host/freed_memory.h"

#include <dlfcn.h>
#include <malloc.h>

#include <cstddef>

namespace {

using Mallctl = int (*)(const char*, void*, std::size_t*, void*, std::size_t);

// jemalloc's control, when jemalloc is the process's allocator; else null.
Mallctl jemallocControl() {
  static const auto control = reinterpret_cast<Mallctl>(dlsym(RTLD_DEFAULT, "mallctl"));
  return control;
}

}  // namespace

void giveBackFreedMemory() {
  if (const Mallctl control = jemallocControl()) {
    // jemalloc returns freed pages after a delay of its own (its decay):
    // purging every arena returns them now. 4096 is MALLCTL_ARENAS_ALL.
    control("arena.4096.purge", nullptr, nullptr, nullptr, 0);
  } else {
    malloc_trim(0);
  }
}
