#include "cli/utc_time.h"

#include <ctime>

namespace cli {

std::string utcSeconds(std::int64_t micros) {
  // Whole seconds, rounded down also before the epoch.
  const std::int64_t seconds = micros / 1'000'000 - (micros % 1'000'000 < 0 ? 1 : 0);
  const auto time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

std::string utcText(std::int64_t micros) { return utcSeconds(micros) + " UTC"; }

}  // namespace cli
