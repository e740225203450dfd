// Local-time conversion with the host's time-zone settings (Windows).
#include <time.h>

#include "app/simulated_time.h"

bool local_time(std::int64_t seconds, SimulatedTime& out) {
  const __time64_t when = seconds;
  return _localtime64_s(&out, &when) == 0;
}
