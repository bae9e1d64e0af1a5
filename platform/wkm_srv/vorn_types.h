#pragma once

#include <cstdint>

// The repository's `long`: 32 bits wide on every platform, like its wire form.
using VornLong = std::int32_t;
