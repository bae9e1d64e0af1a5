#pragma once

// The base types are shared by every module that works on the repository, so
// their classes keep default visibility in any module built with hidden
// symbols.
#define WKM_SRV_API __attribute__((visibility("default")))
