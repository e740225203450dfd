// The built-in zones' rules, worked out from the calendar alone, the
// reading of a year of a Windows zone, and what a file of the tz database
// holds.
#include "app/zone_rules.h"

#include <cstring>
#include <string>

#include "stations/calendar.h"

namespace {

constexpr ZoneRule kZones[] = {
    {"UTC", 0, SummerRule::None, "UTC"},
    {"Europe/London", 0, SummerRule::Eu, "GMT Standard Time"},
    {"Europe/Berlin", 3600, SummerRule::Eu, "W. Europe Standard Time"},
    {"Asia/Shanghai", 8 * 3600, SummerRule::None, "China Standard Time"},
    {"Asia/Tokyo", 9 * 3600, SummerRule::None, "Tokyo Standard Time"},
    {"America/New_York", -5 * 3600, SummerRule::Us, "Eastern Standard Time"},
    {"America/Chicago", -6 * 3600, SummerRule::Us, "Central Standard Time"},
    {"America/Denver", -7 * 3600, SummerRule::Us, "Mountain Standard Time"},
    {"America/Los_Angeles", -8 * 3600, SummerRule::Us, "Pacific Standard Time"},
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

// Both changes at 02:00 of the local time in force before them; read in
// standard time, the one back from summer time is at 01:00.
bool us_summer_time(std::int64_t seconds, int standard_offset) {
  const std::int64_t standard = seconds + standard_offset;
  const int year = year_of(standard);
  const bool since_2007 = year >= 2007;
  const int begin_month = since_2007 ? 3 : 4, end_month = since_2007 ? 11 : 10;
  const int begin_day = nth_sunday(year, begin_month, since_2007 ? 2 : 1);
  const int end_day = nth_sunday(year, end_month, since_2007 ? 1 : 0);
  return standard >= utc_seconds_of(year, begin_month, begin_day, 2, 0, 0) &&
         standard < utc_seconds_of(year, end_month, end_day, 1, 0, 0);
}

// The day of the month of a Windows change in `year`.
int windows_change_day(const WindowsChange& change, int year) {
  if (change.year != 0) return change.week;
  const int first = 1 + (change.weekday - day_of_week_of_date(year, change.month, 1) + 7) % 7;
  int day = first + 7 * (change.week - 1);
  while (day > first && day_of_year_of_date(year, change.month, day) == 0) day -= 7;
  return day;
}

// The instant of a Windows change, read in the time before it (`bias`
// minutes behind UTC).
std::int64_t windows_change_instant(const WindowsChange& change, int year, int bias) {
  return utc_seconds_of(year, change.month, windows_change_day(change, year), change.hour,
                        change.minute, change.second) +
         bias * 60;
}

std::uint64_t big_endian_32(const unsigned char* p) {
  return std::uint64_t{p[0]} << 24 | std::uint64_t{p[1]} << 16 | std::uint64_t{p[2]} << 8 | p[3];
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

int windows_zone_year_of(std::int64_t seconds, int bias, int standard_bias) {
  return year_of(seconds - (bias + standard_bias) * 60);
}

void windows_zone_local_time(const WindowsZoneYear& zone, std::int64_t seconds, std::tm& out) {
  const int standard = zone.bias + zone.standard_bias, daylight = zone.bias + zone.daylight_bias;
  bool summer = false;
  if (zone.to_daylight.month != 0 && zone.to_standard.month != 0) {
    const int year = windows_zone_year_of(seconds, zone.bias, zone.standard_bias);
    const std::int64_t begins = windows_change_instant(zone.to_daylight, year, standard);
    const std::int64_t ends = windows_change_instant(zone.to_standard, year, daylight);
    // South of the equator summer time spans the year's end.
    summer = begins < ends ? seconds >= begins && seconds < ends
                           : seconds >= begins || seconds < ends;
  }
  utc_time(seconds - (summer ? daylight : standard) * 60, out);
  out.tm_isdst = summer ? 1 : 0;
}

TzifKind tzif_zone_kind(const unsigned char* bytes, std::size_t size) {
  // A header: "TZif", its version, 15 bytes unused, then six counts: UT/local
  // indicators, standard/wall indicators, leap seconds, transitions, local
  // time types, bytes of abbreviations. Version 2 and later repeat header
  // and data with 64-bit times after the version 1 data.
  constexpr std::size_t kHeader = 44;
  std::uint64_t at = 0;
  for (int block = 0; block < 2; ++block) {
    if (size < kHeader || at > size - kHeader || std::memcmp(bytes + at, "TZif", 4) != 0)
      return TzifKind::NotTzif;
    const unsigned char* counts = bytes + at + 20;
    const std::uint64_t ut = big_endian_32(counts), standard = big_endian_32(counts + 4),
                        leaps = big_endian_32(counts + 8), times = big_endian_32(counts + 12),
                        types = big_endian_32(counts + 16), chars = big_endian_32(counts + 20);
    if (leaps != 0) return TzifKind::LeapSeconds;
    const bool version_1 = bytes[at + 4] == 0;
    if (version_1 || block == 1) return types != 0 ? TzifKind::Plain : TzifKind::NotTzif;
    at += kHeader + times * 5 + types * 6 + chars + leaps * 8 + standard + ut;
  }
  return TzifKind::NotTzif;
}
