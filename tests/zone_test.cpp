// The zones: kolvan's own rules and its reading of Windows' zone data, hour
// by hour against the tz database; the files of the database it refuses;
// each station's own zone; a wall time of a zone back to its instant.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "app/simulated_time.h"
#include "app/zone_rules.h"
#include "stations/station.h"
#include "utc.h"

namespace {

// TZ set for a test and put back after it.
struct TzSet {
  explicit TzSet(const char* zone) : had(std::getenv("TZ") != nullptr) {
    if (had) saved = std::getenv("TZ");
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TzSet() {
    had ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  bool had;
  std::string saved;
};

// The first hours, up to three, at which `convert` differs from the tz
// database's conversion (TZ set to `zone`) from 1 January of `first` to
// the end of `last`: hour, day and summer time.
template <typename Convert>
std::string hours_unlike_the_tz_database(const char* zone, int first, int last, Convert convert) {
  TzSet tz(zone);
  std::string unlike;
  int bad = 0;
  for (std::int64_t s = utc(first, 1, 1, 0, 0, 0); s < utc(last + 1, 1, 1, 0, 0, 0) && bad < 3;
       s += 3600) {
    const std::time_t when = static_cast<std::time_t>(s);
    std::tm want{}, got{};
    localtime_r(&when, &want);
    convert(s, got);
    if (got.tm_hour != want.tm_hour || got.tm_mday != want.tm_mday ||
        got.tm_isdst != want.tm_isdst) {
      ++bad;
      unlike += " " + std::to_string(s);
    }
  }
  return unlike;
}

TEST(ZoneRules, AgreeWithTheTzDatabaseHourByHourFrom2000To2037) {
  std::istringstream names(zone_rule_names());
  std::string name;
  int zones = 0;
  while (std::getline(names >> std::ws, name, ',')) {
    ++zones;
    const ZoneRule* rule = find_zone_rule(name.c_str());
    ASSERT_NE(rule, nullptr) << name;
    EXPECT_EQ(hours_unlike_the_tz_database(name.c_str(), 2000, 2037,
                                           [rule](std::int64_t s, std::tm& out) {
                                             zone_rule_local_time(*rule, s, out);
                                           }),
              "")
        << name;
  }
  EXPECT_EQ(zones, 9);
}

// Years of Windows zones as the registry publishes them (TZI: Bias,
// StandardBias, DaylightBias, StandardDate, DaylightDate; a date's fields
// year, month, day of week, week, hour, minute, second).
struct WindowsYear {
  const char* iana;
  int year;
  WindowsZoneYear zone;
};
const WindowsYear kWindowsYears[] = {
    {"Europe/Berlin", 2026, {-60, 0, -60, {0, 10, 0, 5, 3, 0, 0}, {0, 3, 0, 5, 2, 0, 0}}},
    {"Europe/London", 2005, {0, 0, -60, {0, 10, 0, 5, 2, 0, 0}, {0, 3, 0, 5, 1, 0, 0}}},
    {"America/New_York", 2005, {300, 0, -60, {0, 10, 0, 5, 2, 0, 0}, {0, 4, 0, 1, 2, 0, 0}}},
    {"America/New_York", 2007, {300, 0, -60, {0, 11, 0, 1, 2, 0, 0}, {0, 3, 0, 2, 2, 0, 0}}},
    {"America/Los_Angeles", 2037, {480, 0, -60, {0, 11, 0, 1, 2, 0, 0}, {0, 3, 0, 2, 2, 0, 0}}},
    {"Asia/Tokyo", 2037, {-540, 0, 0, {}, {}}},
    // Fixed dates (a year given): 2026's changes in Berlin.
    {"Europe/Berlin", 2026, {-60, 0, -60, {2026, 10, 0, 25, 3, 0, 0}, {2026, 3, 0, 29, 2, 0, 0}}},
};

TEST(WindowsZones, AYearOfWindowsDataReadAsTheTzDatabaseHasIt) {
  for (const WindowsYear& w : kWindowsYears) {
    EXPECT_EQ(hours_unlike_the_tz_database(w.iana, w.year, w.year,
                                           [&w](std::int64_t s, std::tm& out) {
                                             windows_zone_local_time(w.zone, s, out);
                                           }),
              "")
        << w.iana << " " << w.year;
  }
  // The year a time falls in is its year in standard time: 31 December
  // 23:30 UTC is already the next year in Berlin, still that one in New York.
  EXPECT_EQ(windows_zone_year_of(utc(2026, 12, 31, 23, 30, 0), -60, 0), 2027);
  EXPECT_EQ(windows_zone_year_of(utc(2027, 1, 1, 3, 0, 0), 300, 0), 2026);
}

// RFC 8536: a header is "TZif", a version byte, 15 unused bytes and six
// 32-bit counts (UT indicators, standard indicators, leap seconds,
// transitions, types, abbreviation bytes); a version 2 file repeats header
// and data after the version 1 data.
std::string tzif_header(char version, unsigned leaps, unsigned types, unsigned chars) {
  std::string h = std::string("TZif") + version + std::string(15, '\0');
  for (unsigned count : {0u, 0u, leaps, 0u, types, chars})
    for (int shift = 24; shift >= 0; shift -= 8) h += static_cast<char>(count >> shift & 0xff);
  return h;
}

TzifKind kind_of(const std::string& bytes) {
  return tzif_zone_kind(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(ZoneFiles, OnlyAPlainZoneIsAZone) {
  // One type (6 bytes) and "UTC\0" in each block; a leap second's record is
  // 8 bytes in version 1 and 12 in version 2.
  const std::string type(6, '\0'), name("UTC\0", 4), leap(8, '\0');
  const std::string v1 = tzif_header('\0', 0, 1, 4) + type + name;
  const std::string v2 = tzif_header('2', 0, 1, 4) + type + name + tzif_header('2', 0, 1, 4) +
                         std::string(6, '\0') + name + "\nUTC0\n";
  // zic -b slim leaves the version 1 block empty; the leap seconds are in
  // the version 2 header alone.
  const std::string slim_right =
      tzif_header('2', 0, 0, 0) + tzif_header('2', 27, 1, 4) + type + name;
  const std::string fat_right = tzif_header('2', 1, 1, 4) + type + name + leap;
  struct Case { const char* what; std::string bytes; TzifKind kind; };
  const Case cases[] = {
      {"version 1", v1, TzifKind::Plain},
      {"version 2", v2, TzifKind::Plain},
      {"slim right/", slim_right, TzifKind::LeapSeconds},
      {"fat right/", fat_right, TzifKind::LeapSeconds},
      {"no types", tzif_header('\0', 0, 0, 0), TzifKind::NotTzif},
      {"version 2 cut after its first block", v2.substr(0, v1.size()), TzifKind::NotTzif},
      {"zone.tab", "# tzdb timezone descriptions\nJP\t+353916+1394441\tAsia/Tokyo\n",
       TzifKind::NotTzif},
      {"a header cut short", v1.substr(0, 43), TzifKind::NotTzif},
  };
  for (const Case& c : cases) EXPECT_EQ(kind_of(c.bytes), c.kind) << c.what;
}

// The database's own files, where the system has them: a zone counting
// leap seconds, a table and a name climbing out are refused with a line;
// "posix/" holds plain zones.
TEST(ZoneFiles, UseZoneRefusesWhatIsNoPlainZoneWithALine) {
  struct Case { const char* name; bool used; const char* says; };
  const Case cases[] = {
      {"Asia/Tokyo", true, ""},
      {"posix/Asia/Tokyo", true, ""},
      {"right/Asia/Tokyo", false, "counts leap seconds"},
      {"zone.tab", false, "not a zone file of the tz database"},
      {"../zoneinfo/Asia/Tokyo", false, "no such zone"},
      {"Europe/Atlantis", false, "no such zone"},
  };
  const std::string database = "/usr/share/zoneinfo/";
  for (const Case& c : cases) {
    std::string error;
    std::tm t{};
    if (std::strcmp(c.name, "Europe/Atlantis") != 0 && !std::ifstream(database + c.name)) {
      std::printf("skipped %s: not in this system's tz database\n", c.name);
      continue;
    }
    EXPECT_EQ(use_zone(c.name, error), c.used) << c.name;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    // Either way the zone sent is a plain Tokyo or whatever was set before.
    if (c.used) {
      ASSERT_TRUE(local_time(utc(2026, 12, 7, 0, 0, 0), t));
      EXPECT_EQ(t.tm_hour, 9) << c.name;
      EXPECT_EQ(t.tm_sec, 0) << c.name;
    }
  }
  unsetenv("TZ");
  tzset();
}

// WWVB's summer-time bits come from a US zone through zone_time: the law of
// each year (2005's, before the change of 2007) from the tz database, and
// from kolvan's own rules where the system has no database. The zone sent
// stays as it was.
TEST(ZoneTime, ConvertsInAnotherZoneAndLeavesTheZoneSent) {
  struct Case { std::int64_t at; bool summer; };
  const Case cases[] = {
      {utc(2005, 3, 20, 0, 0, 0), false},   // 2007's law would have it from 13 March
      {utc(2005, 4, 3, 7, 0, 0), true},     // 03:00 EDT, the first Sunday of April
      {utc(2005, 10, 30, 5, 59, 0), true},  // 01:59 EDT
      {utc(2005, 10, 30, 6, 0, 0), false},  // 01:00 EST, the last Sunday of October
      {utc(2005, 11, 1, 0, 0, 0), false},   // 2007's law: until 6 November
      {utc(2037, 3, 8, 7, 0, 0), true},     // 03:00 EDT, the second Sunday of March
      {utc(2037, 11, 1, 6, 0, 0), false},   // 01:00 EST, the first Sunday of November
  };
  for (const char* tzdir : {"", "/nonexistent"}) {
    if (*tzdir != '\0') setenv("TZDIR", tzdir, 1);
    std::string error;
    ASSERT_TRUE(use_zone("Asia/Tokyo", error)) << error;
    for (const Case& c : cases) {
      std::tm t{};
      ASSERT_TRUE(zone_time("America/New_York", c.at, t));
      EXPECT_EQ(t.tm_isdst > 0, c.summer) << c.at << " TZDIR=" << tzdir;
      ASSERT_TRUE(local_time(c.at, t));
      EXPECT_EQ(t.tm_isdst, 0);
      EXPECT_EQ(t.tm_hour, (c.at / 3600 + 9) % 24) << "the zone sent is still Tokyo's";
    }
    std::tm t{};
    EXPECT_FALSE(zone_time("Europe/Atlantis", 0, t));
  }
  unsetenv("TZDIR");
  unsetenv("TZ");
  tzset();
}

// Each station sends its own country's zone whatever the host's, but JJY,
// which sends the host's (null).
TEST(StationZones, EachStationNamesItsOwnZone) {
  struct Case { const char* station; const char* zone; };
  const Case cases[] = {{"jjy40", nullptr},        {"jjy60", nullptr},
                        {"wwvb", "UTC"},           {"dcf77", "Europe/Berlin"},
                        {"msf", "Europe/London"},  {"bpc", "Asia/Shanghai"}};
  for (const Case& c : cases) {
    const Station* station = find_station(c.station);
    ASSERT_NE(station, nullptr) << c.station;
    if (c.zone == nullptr) {
      EXPECT_EQ(station->zone, nullptr) << c.station;
    } else {
      ASSERT_NE(station->zone, nullptr) << c.station << " would send the host's zone";
      EXPECT_STREQ(station->zone, c.zone) << c.station;
    }
  }
}

// Berlin, 2027: summer time from 28 March 02:00 CET (03:00 CEST) to 31
// October 03:00 CEST (02:00 CET).
TEST(ZoneRules, AWallTimeIsItsInstantButInTheHourSummerTimeSkips) {
  std::string error;
  ASSERT_TRUE(use_zone("Europe/Berlin", error)) << error;
  struct Case { int month, day, hour, minute; bool exists; std::int64_t utc_seconds; };
  const Case cases[] = {
      {3, 28, 1, 59, true, utc(2027, 3, 28, 0, 59, 0)},
      {3, 28, 2, 0, false, 0},
      {3, 28, 2, 59, false, 0},
      {3, 28, 3, 0, true, utc(2027, 3, 28, 1, 0, 0)},
      {10, 31, 2, 30, true, utc(2027, 10, 31, 0, 30, 0)},  // the first of the two
      {12, 31, 23, 59, true, utc(2027, 12, 31, 22, 59, 0)},
  };
  for (const Case& c : cases) {
    std::int64_t seconds = -1;
    EXPECT_EQ(seconds_of_local_time(2027, c.month, c.day, c.hour, c.minute, 0, seconds), c.exists)
        << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
    if (c.exists) {
      EXPECT_EQ(seconds, c.utc_seconds) << c.month << "-" << c.day;
    }
  }
  unsetenv("TZ");
  tzset();
}

}  // namespace
