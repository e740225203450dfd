// Local-time conversion with the C library's time zones (POSIX): the host's
// own, or the one use_zone sets through TZ, from the tz database when it has
// the zone and from kolvan's own rules when it doesn't.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include "app/simulated_time.h"
#include "app/zone_rules.h"
#include "base/escaped_name.h"

namespace {

// The built-in rules of the zone sent, when the tz database lacks it.
const ZoneRule* built_in_zone = nullptr;

enum class ZoneFile { Plain, Missing, NotZone, LeapSeconds };

// What the database holds under a relative name that can't climb out of
// it: a zone file kolvan sends from, or something else. A file of "right/"
// counts leap seconds into its clock, which then runs 27 s behind UTC; a
// table such as zone.tab isn't a zone at all, and the C library would read
// it as UTC without a word.
ZoneFile zone_file(const char* name, std::string& database) {
  const char* dir = getenv("TZDIR");
  database = dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
  if (*name == '\0' || *name == '/' || std::strstr(name, "..") != nullptr)
    return ZoneFile::Missing;
  const std::string path = database + "/" + name;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return ZoneFile::Missing;
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  switch (tzif_zone_kind(bytes.data(), bytes.size())) {
    case TzifKind::Plain: return ZoneFile::Plain;
    case TzifKind::LeapSeconds: return ZoneFile::LeapSeconds;
    case TzifKind::NotTzif: break;
  }
  return ZoneFile::NotZone;
}

// TZ's value, or null for the host's own zone.
bool saved_tz(std::string& value) {
  const char* tz = getenv("TZ");
  if (tz != nullptr) value = tz;
  return tz != nullptr;
}

}  // namespace

bool use_zone(const char* name, std::string& error) {
  std::string database;
  const ZoneFile file = zone_file(name, database);
  const ZoneRule* rule = find_zone_rule(name);
  if (file == ZoneFile::Plain) {
    built_in_zone = nullptr;
    setenv("TZ", name, 1);
    tzset();
    return true;
  }
  if (file == ZoneFile::Missing && rule != nullptr) {
    built_in_zone = rule;
    return true;
  }
  const std::string start = "kolvan: --zone=" + escaped_name(name) + ": ";
  if (file == ZoneFile::LeapSeconds)
    error = start + "a zone whose clock counts leap seconds, 27 s behind UTC; give the plain " +
            "zone (without \"right/\")";
  else if (file == ZoneFile::NotZone)
    error = start + "not a zone file of the tz database (" + database + ")";
  else
    error = start + "no such zone in the tz database (" + database + ")";
  return false;
}

std::string zone_source() {
  return built_in_zone != nullptr ? "kolvan's own rules" : "the tz database";
}

bool local_time(std::int64_t seconds, SimulatedTime& out) {
  if (built_in_zone != nullptr) {
    zone_rule_local_time(*built_in_zone, seconds, out);
    return true;
  }
  if (seconds < std::numeric_limits<std::time_t>::min() ||
      seconds > std::numeric_limits<std::time_t>::max())
    return false;
  const std::time_t when = static_cast<std::time_t>(seconds);
  return localtime_r(&when, &out) != nullptr;
}

// The C library converts in one zone at a time, TZ's: the zone is set for
// the one conversion and the zone sent put back. Only the transmission
// loop's thread converts times.
bool zone_time(const char* zone, std::int64_t seconds, std::tm& out) {
  std::string database;
  const ZoneFile file = zone_file(zone, database);
  if (file != ZoneFile::Plain) {
    const ZoneRule* rule = find_zone_rule(zone);
    if (file != ZoneFile::Missing || rule == nullptr) return false;
    zone_rule_local_time(*rule, seconds, out);
    return true;
  }
  if (seconds < std::numeric_limits<std::time_t>::min() ||
      seconds > std::numeric_limits<std::time_t>::max())
    return false;
  std::string sent;
  const bool had = saved_tz(sent);
  setenv("TZ", zone, 1);
  tzset();
  const std::time_t when = static_cast<std::time_t>(seconds);
  const bool converted = localtime_r(&when, &out) != nullptr;
  had ? setenv("TZ", sent.c_str(), 1) : unsetenv("TZ");
  tzset();
  return converted;
}
