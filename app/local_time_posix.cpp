// Local-time conversion with the host's time-zone settings (POSIX).
#include <limits>

#include "app/simulated_time.h"

bool local_time(std::int64_t seconds, SimulatedTime& out) {
  if (seconds < std::numeric_limits<std::time_t>::min() ||
      seconds > std::numeric_limits<std::time_t>::max())
    return false;
  const std::time_t when = static_cast<std::time_t>(seconds);
  return localtime_r(&when, &out) != nullptr;
}
