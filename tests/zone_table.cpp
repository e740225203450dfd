// The zones kolvan accepts, as this system's conversion gives them, hour by
// hour from 2000 to 2037: for each zone its offset at the start and every
// hour at which the offset or summer time changes. Built for Linux (the tz
// database) and for Windows (Windows' own zone data), so that
// scripts/wine-zones.sh can compare the two tables; where each zone comes
// from on standard error. Not installed.
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "app/simulated_time.h"
#include "app/zone_rules.h"
#include "stations/calendar.h"

int main() {
  std::istringstream names(zone_rule_names());
  std::string name, error;
  int status = 0;
  while (std::getline(names >> std::ws, name, ',')) {
    if (!use_zone(name.c_str(), error)) {
      std::printf("%s refused: %s\n", name.c_str(), error.c_str());
      status = 1;
      continue;
    }
    std::fprintf(stderr, "%s: %s\n", name.c_str(), zone_source().c_str());
    std::int64_t last_offset = -1;
    int last_summer = -1;
    const std::int64_t end = utc_seconds_of(2038, 1, 1, 0, 0, 0);
    for (std::int64_t s = utc_seconds_of(2000, 1, 1, 0, 0, 0); s < end; s += 3600) {
      std::tm t{};
      if (!local_time(s, t)) {
        std::printf("%s: no local time at %lld\n", name.c_str(), static_cast<long long>(s));
        status = 1;
        break;
      }
      const std::int64_t offset = utc_seconds_of(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                                 t.tm_hour, t.tm_min, t.tm_sec) - s;
      const int summer = t.tm_isdst > 0;
      if (offset == last_offset && summer == last_summer) continue;
      std::tm u{};
      utc_time(s, u);
      std::printf("%s %04d-%02d-%02d %02d:00 UTC %+lld s%s\n", name.c_str(), u.tm_year + 1900,
                  u.tm_mon + 1, u.tm_mday, u.tm_hour, static_cast<long long>(offset),
                  summer ? " summer" : "");
      last_offset = offset;
      last_summer = summer;
    }
  }
  return status;
}
