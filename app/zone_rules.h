// The few time zones kolvan carries its own rules for (the stations' own
// zones and their neighbours), for a host whose system lacks them; and the
// reading of a zone's year as Windows' zone data gives it. Pure: seconds and
// rules in, broken-down time out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// Summer time: none; the EU's (and the UK's), from 01:00 UTC on the last
// Sunday of March to 01:00 UTC on the last Sunday of October; or the US's,
// at 02:00 local, from the second Sunday of March to the first Sunday of
// November since 2007 and from the first Sunday of April to the last Sunday
// of October from 1987 to 2006.
enum class SummerRule { None, Eu, Us };

struct ZoneRule {
  const char* name;          // the IANA name: "Europe/Berlin"
  int standard_offset;       // seconds east of UTC outside summer time
  SummerRule summer;         // an hour more under this rule
  const char* windows_zone;  // the Windows zone of the same law: "W. Europe Standard Time"
};

// The row of an IANA zone name, or null for a zone without one.
const ZoneRule* find_zone_rule(const char* name);

// Every row's name, comma-separated, for a message.
std::string zone_rule_names();

// `seconds` since the epoch broken down in the zone, tm_isdst set.
void zone_rule_local_time(const ZoneRule& zone, std::int64_t seconds, std::tm& out);

// A change of offset as Windows' TIME_ZONE_INFORMATION gives it: `month` 0
// for none; with `year` 0, the `week`-th `weekday` (0 Sunday) of the month,
// 5 being the last, else the date `year`-`month`-`week`; at
// `hour`:`minute`:`second` of the local time in force before the change.
struct WindowsChange {
  int year, month, weekday, week, hour, minute, second;
};

// One year of a Windows zone: UTC = local time + `bias` + `standard_bias`
// (in standard time) or + `daylight_bias` (in daylight time), in minutes.
struct WindowsZoneYear {
  int bias, standard_bias, daylight_bias;
  WindowsChange to_standard, to_daylight;
};

// The year whose rules hold at `seconds`: its year in the zone's standard
// time (`bias` as above).
int windows_zone_year_of(std::int64_t seconds, int bias, int standard_bias);

// `seconds` broken down in the zone by the rules of its year, tm_isdst set.
void windows_zone_local_time(const WindowsZoneYear& zone, std::int64_t seconds, std::tm& out);

enum class TzifKind { Plain, LeapSeconds, NotTzif };

// What a file of the tz database holds (RFC 8536's TZif): a zone, a zone
// whose clock counts leap seconds (a leap-second record in either header,
// the files under "right/"), or no zone at all (zone.tab, a directory's
// listing, a truncated file).
TzifKind tzif_zone_kind(const unsigned char* bytes, std::size_t size);
