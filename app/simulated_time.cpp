// The time the line carries: the host clock shifted by the offset.
#include "app/simulated_time.h"

#include "pacing/clock.h"
#include "stations/calendar.h"

std::int64_t simulated_seconds_at(std::int64_t host_second, int offset_sec) {
  return host_second + offset_sec + 1;
}

std::int64_t simulated_seconds(int offset_sec) {
  return simulated_seconds_at(calendar_seconds(), offset_sec);
}

bool time_sent(std::int64_t seconds, SimulatedTime& out) {
  return local_time(seconds, out) && out.tm_year >= 100 && out.tm_year <= 199;
}

bool simulated_time(int offset_sec, SimulatedTime& out) {
  return time_sent(simulated_seconds(offset_sec), out);
}

bool seconds_of_local_time(int year, int month, int day, int hour, int minute, int second,
                           std::int64_t& seconds) {
  // The zone's offset from UTC a day either side of the wall time covers
  // both offsets around any change; whichever gives back the same wall time
  // is the instant.
  const std::int64_t wall = utc_seconds_of(year, month, day, hour, minute, second);
  bool found = false;
  for (const std::int64_t probe : {wall - 86400, wall + 86400}) {
    SimulatedTime t;
    if (!local_time(probe, t)) continue;
    const std::int64_t offset =
        utc_seconds_of(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec) -
        probe;
    const std::int64_t candidate = wall - offset;
    if (!local_time(candidate, t)) continue;
    const bool same = t.tm_year + 1900 == year && t.tm_mon + 1 == month && t.tm_mday == day &&
                      t.tm_hour == hour && t.tm_min == minute && t.tm_sec == second;
    if (same && (!found || candidate < seconds)) seconds = candidate;
    found = found || same;
  }
  return found;
}
