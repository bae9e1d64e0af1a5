#pragma once

// Times the tools print: microseconds since the Unix epoch as UTC, to the
// second ("2026-12-10 02:17:02"), the way people read a log.

#include <cstdint>
#include <string>

namespace cli {

std::string utcSeconds(std::int64_t micros);
// The same with " UTC" after it, as the tools print a commit's time.
std::string utcText(std::int64_t micros);

}  // namespace cli
