// The built-in zones' rules: a table of rows and the two summer-time rules,
// worked out from the calendar alone.
#include "app/zone_rules.h"

#include <cstring>
#include <string>

#include "stations/calendar.h"

namespace {

constexpr ZoneRule kZones[] = {
    {"UTC", 0, SummerRule::None, "UTC0"},
    {"Europe/London", 0, SummerRule::Eu, "GMT0BST,M3.5.0/1,M10.5.0"},
    {"Europe/Berlin", 3600, SummerRule::Eu, "CET-1CEST,M3.5.0,M10.5.0/3"},
    {"Asia/Shanghai", 8 * 3600, SummerRule::None, "CST-8"},
    {"Asia/Tokyo", 9 * 3600, SummerRule::None, "JST-9"},
    {"America/New_York", -5 * 3600, SummerRule::Us, "EST5EDT,M3.2.0,M11.1.0"},
    {"America/Chicago", -6 * 3600, SummerRule::Us, "CST6CDT,M3.2.0,M11.1.0"},
    {"America/Denver", -7 * 3600, SummerRule::Us, "MST7MDT,M3.2.0,M11.1.0"},
    {"America/Los_Angeles", -8 * 3600, SummerRule::Us, "PST8PDT,M3.2.0,M11.1.0"},
};

int year_of(std::int64_t seconds) {
  std::tm t{};
  utc_time(seconds, t);
  return t.tm_year + 1900;
}

bool eu_summer_time(std::int64_t seconds) {
  const int year = year_of(seconds);
  const std::int64_t begins = utc_seconds_of(year, 3, nth_sunday(year, 3, 0), 1, 0, 0);
  const std::int64_t ends = utc_seconds_of(year, 10, nth_sunday(year, 10, 0), 1, 0, 0);
  return seconds >= begins && seconds < ends;
}

}  // namespace

const ZoneRule* find_zone_rule(const char* name) {
  for (const ZoneRule& zone : kZones)
    if (std::strcmp(zone.name, name) == 0) return &zone;
  return nullptr;
}

std::string zone_rule_names() {
  std::string names;
  for (const ZoneRule& zone : kZones) names += std::string(names.empty() ? "" : ", ") + zone.name;
  return names;
}

void zone_rule_local_time(const ZoneRule& zone, std::int64_t seconds, std::tm& out) {
  bool summer = false;
  if (zone.summer == SummerRule::Eu) summer = eu_summer_time(seconds);
  if (zone.summer == SummerRule::Us) summer = us_summer_time(seconds, zone.standard_offset);
  utc_time(seconds + zone.standard_offset + (summer ? 3600 : 0), out);
  out.tm_isdst = summer ? 1 : 0;
}
