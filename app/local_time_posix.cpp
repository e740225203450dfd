// Local-time conversion with the C library's time zones (POSIX): the host's
// own, or the one use_zone sets through TZ, from the tz database when it has
// the zone and from kolvan's own rules when it doesn't.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <cstring>
#include <limits>

#include "app/simulated_time.h"
#include "app/zone_rules.h"
#include "base/escaped_name.h"

namespace {

// A zone file of the database: a relative name that can't climb out of it.
bool in_zone_database(const char* name, std::string& database) {
  const char* dir = getenv("TZDIR");
  database = dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
  if (*name == '\0' || *name == '/' || std::strstr(name, "..") != nullptr) return false;
  struct stat info {};
  return stat((database + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

bool use_zone(const char* name, std::string& error) {
  std::string database;
  const ZoneRule* rule = find_zone_rule(name);
  if (in_zone_database(name, database)) {
    setenv("TZ", name, 1);
  } else if (rule != nullptr) {
    setenv("TZ", rule->posix_tz, 1);
  } else {
    error = "kolvan: --zone=" + escaped_name(name) + ": no such zone in the tz database (" +
            database + ")";
    return false;
  }
  tzset();
  return true;
}

bool local_time(std::int64_t seconds, SimulatedTime& out) {
  if (seconds < std::numeric_limits<std::time_t>::min() ||
      seconds > std::numeric_limits<std::time_t>::max())
    return false;
  const std::time_t when = static_cast<std::time_t>(seconds);
  return localtime_r(&when, &out) != nullptr;
}
