// The time the line carries: the host clock shifted by the offset.
#include "app/simulated_time.h"

#include "pacing/clock.h"

bool simulated_time(int offset_sec, SimulatedTime& out) {
  return local_time(calendar_seconds() + offset_sec + 1, out);
}
