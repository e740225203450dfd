// The few time zones kolvan carries its own rules for: the stations' own
// zones and their neighbours, for hosts without the tz database (Windows,
// where the C library reads "Europe/Berlin" as a zone of offset 0, and a
// POSIX host without tzdata). Pure: seconds in, broken-down time out.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Summer time by the rules in force since 2007: none; the EU's (and the
// UK's), from 01:00 UTC on the last Sunday of March to 01:00 UTC on the last
// Sunday of October; or the US's, from 02:00 local on the second Sunday of
// March to 02:00 local on the first Sunday of November.
enum class SummerRule { None, Eu, Us };

struct ZoneRule {
  const char* name;      // the IANA name: "Europe/Berlin"
  int standard_offset;   // seconds east of UTC outside summer time
  SummerRule summer;     // an hour more under this rule
  const char* posix_tz;  // the same as a POSIX TZ value
};

// The row of an IANA zone name, or null for a zone without one.
const ZoneRule* find_zone_rule(const char* name);

// Every row's name, comma-separated, for a message.
std::string zone_rule_names();

// `seconds` since the epoch broken down in the zone, tm_isdst set.
void zone_rule_local_time(const ZoneRule& zone, std::int64_t seconds, std::tm& out);
