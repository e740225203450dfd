// The time the line carries: the host clock shifted by the offset.
#include "app/simulated_time.h"

#include "pacing/clock.h"

std::int64_t simulated_seconds_at(std::int64_t host_second, int offset_sec) {
  return host_second + offset_sec + 1;
}

std::int64_t simulated_seconds(int offset_sec) {
  return simulated_seconds_at(calendar_seconds(), offset_sec);
}

bool simulated_time(int offset_sec, SimulatedTime& out) {
  return local_time(simulated_seconds(offset_sec), out);
}
