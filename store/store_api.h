#pragma once

// The store interface, its ids and the memory store are shared by every
// module that works on the repository (built into the base types' library,
// WKM_srv), so their classes keep default visibility in any module built
// with hidden symbols.
#define STORE_API __attribute__((visibility("default")))
