#pragma once

// Marks the few symbols the shared library exports; everything else is
// compiled hidden, and the link's version script enforces the list.
#define QOVIX_OS_EXPORT __attribute__((visibility("default")))
