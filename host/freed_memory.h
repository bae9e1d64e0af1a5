#pragma once

// Gives the memory the process has freed back to the system, whichever
// allocator serves it: qovixd's own (jemalloc, where the build found it)
// or the C library's.
void giveBackFreedMemory();
