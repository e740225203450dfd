// The zones kolvan carries its own rules for, against the tz database; and
// a wall time of a zone back to its instant, across both changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>

#include "app/simulated_time.h"
#include "app/zone_rules.h"
#include "utc.h"

namespace {

TEST(ZoneRules, AgreeWithTheTzDatabaseHourByHourFrom2024To2031) {
  std::istringstream names(zone_rule_names());
  std::string name;
  int zones = 0;
  while (std::getline(names >> std::ws, name, ',')) {
    ++zones;
    const ZoneRule* rule = find_zone_rule(name.c_str());
    ASSERT_NE(rule, nullptr) << name;
    setenv("TZ", name.c_str(), 1);
    tzset();
    int bad = 0;
    for (std::int64_t s = utc(2024, 1, 1, 0, 0, 0); s < utc(2032, 1, 1, 0, 0, 0) && bad < 3;
         s += 3600) {
      const std::time_t when = static_cast<std::time_t>(s);
      std::tm want{}, got{};
      localtime_r(&when, &want);
      zone_rule_local_time(*rule, s, got);
      if (got.tm_hour != want.tm_hour || got.tm_mday != want.tm_mday ||
          got.tm_isdst != want.tm_isdst) {
        ++bad;
        ADD_FAILURE() << name << " at " << s;
      }
    }
  }
  EXPECT_EQ(zones, 9);
  unsetenv("TZ");
  tzset();
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
  EXPECT_FALSE(use_zone("Europe/Atlantis", error));
  EXPECT_EQ(error.rfind("kolvan: --zone=Europe/Atlantis: no such zone", 0), 0u) << error;
  unsetenv("TZ");
  tzset();
}

}  // namespace
