// Tests of the stations' codes behind the station table: pinned minutes, the
// minutes around summer-time changes and year ends, every minute of a leap
// year through encoder and decoder, and the frames each refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "glyphs.h"
#include "stations/calendar.h"
#include "stations/station.h"
#include "utc.h"

namespace {

// Each station's tests run in its own country's zone. A frame carries the
// minute `carried_after` seconds after the one it is sent in, in UTC or in
// the zone's own time.
struct StationZone {
  const char *station, *tz, *standard, *summer;
  bool in_utc;
  int carried_after;
};
constexpr StationZone kZones[] = {{"jjy40", "Asia/Tokyo", "", "", false, 0},
                                  {"wwvb", "America/New_York", "UTC", "UTC", true, 0},
                                  {"dcf77", "Europe/Berlin", "CET", "CEST", false, 60},
                                  {"msf", "Europe/London", "GMT", "BST", false, 60},
                                  {"bpc", "Asia/Shanghai", "CST", "CST", false, 0}};

// Sets TZ to the station's zone and, when done, back to what it was.
struct HostZone {
  explicit HostZone(const char* station) : had(std::getenv("TZ") != nullptr) {
    if (had) saved = std::getenv("TZ");
    for (const StationZone& z : kZones)
      if (std::strcmp(z.station, station) == 0) setenv("TZ", z.tz, 1);
    tzset();
  }
  ~HostZone() {
    had ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  bool had;
  std::string saved;
};

// "2026-03-29 Sun 088 03:00 CEST; summer time change announced" (JJY names
// no zone), or "refused: reason".
std::string decoded(const Station& station, const StationFrame& frame) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "?"};
  StationTime t;
  const char* reason = "";
  if (!station.decode(frame, t, &reason)) return std::string("refused: ") + reason;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %s %03d %02d:%02d", t.year, t.month, t.day,
                kDays[t.day_of_week >= 0 && t.day_of_week < 7 ? t.day_of_week : 7],
                t.day_of_year, t.hour, t.minute);
  return text + (t.zone.empty() ? "" : " " + t.zone) + (t.notes.empty() ? "" : "; " + t.notes);
}

// Hand-checked: each field's bits written out from the station's field table
// (weights, positions, parity) before the encoder existed.
// Saturday 26 June 2010, 13:05 JST, day 177: PA1 1 (three ones among the
// hour bits), PA2 0.
const char kJjy1305[] = "|_____-_-|___-___--|___-__---|_---__-__|____-____|--_______|";
// The minute of the example frame in NIST SP 250-67's WWVB time-code figure:
// 2008 day 258, 18:42 UTC, DUT1 -0.3 s (sign 010, 0011), leap year, DST 11.
const char kWwvbNist[] = "|-_____-_|___-_-___|__-___-_-|-______-_|__--_____|-____-_--|";
// 13:06 CET Mon 7 Dec 2026: minute 0110 000 P1 0, hour 1100 10 P2 1, day
// 1110 00, Monday 100, month 01001, year 0110 0100, P3 1 (9 ones).
const char kDcf77Winter[] = "__________________-_-_--_____--__-_----___-___-__-_--__-__-|";
// 13:06 GMT Mon 7 Dec 2026: year 0010 0110, month 1 0010, day 00 0111, Monday
// 001, hour 01 0011, minute 000 0110; odd ones 3, 5, 1, 5: B54-57 all 0.
const char kMsfWinter[] = "|__________________-__--_-__-____---__-_-__--____--__------_";
// Published: a BPC receiver's decoding of Sunday 2024-12-22 12:47 CST.
const char kBpcPublished[] = "|0000233132112301201|1000233133112301201|2000233133112301201";
// 21:38 CST Fri 15 Oct 2077: hour 9 = 10 01, minute 100 110, Friday 01 01,
// 7 ones so P1 1 (8 in blocks 1 and 2), PM; day 00 11 11, month 10 10, year
// 77 - 64 = 00 11 01, 9 ones so P2 1, the 64 bit.
const char kBpcLate[] = "|0021212113033220313|1021212112033220313|2021212112033220313";
// 00:00 CST Tue 1 Jan 2064, the first minute of the year 64: hour, minute
// 0, Tuesday 00 02, day 00 00 01, month 00 01, year 64 - 64 = 00 00 00 and
// the 64 bit; P1 1 in block 0 (one 1), 0 in blocks 1 and 2; P2 0 (two 1s).
const char kBpc2064[] = "|0000000021001010002|1000000020001010002|2000000020001010002";

// The changes: 8 March and 1 November 2026, 02:00 in the US; 29 March and 25
// October 2026, 01:00 UTC in Berlin and London. DCF77's A1 goes out through
// the hour before a change (second 16 of 01:00 to 01:59 CET in spring), MSF's
// B53 through the 61 minutes before it; "+" marks the frames that carry it.
struct Minute {
  const char* station;
  std::int64_t sent;
  const char* time;
  const char* glyphs = nullptr;  // the frame, when pinned
  const char* carries = nullptr;
};
const Minute kMinutes[] = {
    {"jjy40", utc(2010, 6, 26, 4, 5, 0), "2010-06-26 Sat 177 13:05", kJjy1305, ""},
    // The same Saturday at 13:17: the minute's tens hold one 1, so PA2 (0,
    // over bits 1-8) differs from the parity of the units alone.
    {"jjy40", utc(2010, 6, 26, 4, 17, 0), "2010-06-26 Sat 177 13:17",
     "|__-__---|___-___--|___-__---|_---__-__|____-____|--_______|", ""},
    // Day 366 of a leap year; and day 001.
    {"jjy40", utc(2012, 12, 31, 14, 59, 0), "2012-12-31 Mon 366 23:59",
     "|-_-_-__-|__-____--|__--__--_|_--___-__|____-__-_|__-______|", ""},
    {"jjy40", utc(2010, 12, 31, 15, 0, 0), "2011-01-01 Sat 001 00:00",
     "|________|_________|_________|___-_____|____-___-|--_______|", ""},
    // The day of the year is sent 1-based, hundreds 22-23, tens 25-28, units
    // 30-33: day 100, then day 099.
    {"jjy40", utc(2010, 4, 9, 15, 0, 0), "2010-04-10 Sat 100 00:00",
     "|________|_________|___-_____|_________|____-____|--_______|", ""},
    {"jjy40", utc(2010, 4, 8, 15, 0, 0), "2010-04-09 Fri 099 00:00",
     "|________|_________|_____-__-|-__-_____|____-____|-_-______|", ""},
    {"wwvb", 0, "2008-09-14 Sun 258 18:42 UTC; DST in effect", kWwvbNist, ""},  // decoded only
    // Minute 101 1001, hour 10 0011, day 11 0110 0110, year 0010 0100, LY 1, DST 00.
    {"wwvb", utc(2024, 12, 31, 23, 59, 0), "2024-12-31 Tue 366 23:59 UTC",
     "|-_-_-__-|__-____--|__--__--_|_--___-_-|_______-_|_-___-___|", "= 23:59 UTC"},
    // 01:59 CST on the US change day: day 067, DST 57/58 = 1,0.
    {"wwvb", utc(2026, 3, 8, 7, 59, 0), "2026-03-08 Sun 067 07:59 UTC; DST begins today",
     "|-_-_-__-|______---|______--_|_---__-_-|_______-_|_--____-_|", "= 07:59 UTC"},
    {"wwvb", utc(2026, 3, 7, 23, 59, 0), "2026-03-07 Sat 066 23:59 UTC"},
    {"wwvb", utc(2026, 3, 8, 0, 0, 0), "2026-03-08 Sun 067 00:00 UTC; DST begins today"},
    {"wwvb", utc(2026, 3, 9, 0, 0, 0), "2026-03-09 Mon 068 00:00 UTC; DST in effect"},
    {"wwvb", utc(2026, 11, 1, 0, 0, 0), "2026-11-01 Sun 305 00:00 UTC; DST ends today"},
    {"wwvb", utc(2026, 11, 2, 0, 0, 0), "2026-11-02 Mon 306 00:00 UTC"},
    // 2005's law, before the change of 2007: from the first Sunday of April
    // to the last of October (the later law: 13 March to 6 November).
    {"wwvb", utc(2005, 3, 20, 0, 0, 0), "2005-03-20 Sun 079 00:00 UTC"},
    {"wwvb", utc(2005, 4, 3, 0, 0, 0), "2005-04-03 Sun 093 00:00 UTC; DST begins today"},
    {"wwvb", utc(2005, 10, 30, 12, 0, 0), "2005-10-30 Sun 303 12:00 UTC; DST ends today"},
    {"wwvb", utc(2005, 11, 1, 0, 0, 0), "2005-11-01 Tue 305 00:00 UTC"},
    {"wwvb", utc(2037, 3, 8, 0, 0, 0), "2037-03-08 Sun 067 00:00 UTC; DST begins today"},
    {"dcf77", utc(2026, 12, 7, 12, 5, 0), "2026-12-07 Mon 341 13:06 CET", kDcf77Winter,
     "= 13:06 CET"},
    // Sent at 01:59 CET: A1 1, Z1 Z2 1 0, hour 1100 00 P2 0, day 1001 01,
    // Sunday 111, month 11000, P3 1 (11 ones).
    {"dcf77", utc(2026, 3, 29, 0, 59, 0), "2026-03-29 Sun 088 03:00 CEST+",
     "________________--__-________--_____-__-_------____--__-__-|", "= 03:00 CEST"},
    // Sent at 00:59, 01:00, 01:58 CET, 03:00 CEST; 01:59, 02:00, 02:59 CEST, 02:00 CET.
    {"dcf77", utc(2026, 3, 28, 23, 59, 0), "2026-03-29 Sun 088 01:00 CET"},
    {"dcf77", utc(2026, 3, 29, 0, 0, 0), "2026-03-29 Sun 088 01:01 CET+"},
    {"dcf77", utc(2026, 3, 29, 0, 58, 0), "2026-03-29 Sun 088 01:59 CET+"},
    {"dcf77", utc(2026, 3, 29, 1, 0, 0), "2026-03-29 Sun 088 03:01 CEST"},
    {"dcf77", utc(2026, 10, 24, 23, 59, 0), "2026-10-25 Sun 298 02:00 CEST"},
    {"dcf77", utc(2026, 10, 25, 0, 0, 0), "2026-10-25 Sun 298 02:01 CEST+"},
    {"dcf77", utc(2026, 10, 25, 0, 59, 0), "2026-10-25 Sun 298 02:00 CET+"},
    {"dcf77", utc(2026, 10, 25, 1, 0, 0), "2026-10-25 Sun 298 02:01 CET"},
    {"dcf77", utc(2026, 12, 31, 22, 59, 0), "2027-01-01 Fri 001 00:00 CET"},
    {"msf", utc(2026, 12, 7, 13, 5, 0), "2026-12-07 Mon 341 13:06 GMT", kMsfWinter, "= 13:06 GMT"},
    // Sent at 00:59 GMT: B53 1, B56 1 (Sunday 000), B58 1.
    {"msf", utc(2026, 3, 29, 0, 59, 0), "2026-03-29 Sun 088 02:00 BST+",
     "|__________________-__--____---_-__-_______-_________=--=-=_", "= 02:00 BST"},
    // Sent at 23:58, 23:59 GMT, 02:00 BST; 00:58, 00:59, 01:59 BST, 01:00 GMT.
    {"msf", utc(2026, 3, 28, 23, 58, 0), "2026-03-28 Sat 087 23:59 GMT"},
    {"msf", utc(2026, 3, 28, 23, 59, 0), "2026-03-29 Sun 088 00:00 GMT+"},
    {"msf", utc(2026, 3, 29, 1, 0, 0), "2026-03-29 Sun 088 02:01 BST"},
    {"msf", utc(2026, 10, 24, 23, 58, 0), "2026-10-25 Sun 298 00:59 BST"},
    {"msf", utc(2026, 10, 24, 23, 59, 0), "2026-10-25 Sun 298 01:00 BST+"},
    {"msf", utc(2026, 10, 25, 0, 59, 0), "2026-10-25 Sun 298 01:00 GMT+"},
    {"msf", utc(2026, 10, 25, 1, 0, 0), "2026-10-25 Sun 298 01:01 GMT"},
    {"msf", utc(2024, 12, 31, 23, 59, 0), "2025-01-01 Wed 001 00:00 GMT"},
    {"bpc", utc(2024, 12, 22, 4, 47, 0), "2024-12-22 Sun 357 12:47 CST", kBpcPublished,
     "= 12:47 CST"},
    {"bpc", utc(2077, 10, 15, 13, 38, 0), "2077-10-15 Fri 288 21:38 CST", kBpcLate, "= 21:38 CST"},
    {"bpc", utc(2063, 12, 31, 16, 0, 0), "2064-01-01 Tue 001 00:00 CST", kBpc2064, "= 00:00 CST"},
};

TEST(Station, MinutesPinnedAroundChangesAndAtYearEnds) {
  for (const Minute& m : kMinutes) {
    const Station& station = *find_station(m.station);
    HostZone zone(m.station);
    StationFrame frame = m.glyphs ? frame_of_glyphs(station, m.glyphs) : StationFrame{};
    std::string carries, want = m.time;
    if (want.back() == '+') want.replace(want.size() - 1, 1, "; summer time change announced");
    if (m.sent != 0) {
      ASSERT_TRUE(station.encode(m.sent, host_local, tz_database_time, frame, carries));
    }
    if (m.glyphs) {
      EXPECT_EQ(station_frame_glyphs(station, frame), m.glyphs) << m.time;
      EXPECT_EQ(carries, m.carries) << m.time;
    }
    EXPECT_EQ(decoded(station, frame), want) << station_frame_glyphs(station, frame);
  }
}

// Against the C library's own conversion of the minute each frame carries.
// The Gregorian rule with its exceptions: every fourth year, but not
// centuries, except every fourth century.
TEST(Calendar, LeapYearsByTheHundredAndFourHundredRule) {
  struct Case {
    int year;
    bool leap;
    int march_first;  // its day of the year
  } const cases[] = {{2023, false, 60}, {2024, true, 61}, {1900, false, 60},
                     {2000, true, 61},  {2100, false, 60}, {2400, true, 61}};
  for (const Case& c : cases) {
    EXPECT_EQ(is_leap_year(c.year), c.leap) << c.year;
    EXPECT_EQ(day_of_year_of_date(c.year, 3, 1), c.march_first) << c.year;
    int month = 0, day = 0;
    EXPECT_EQ(date_of_day_of_year(c.year, 366, month, day), c.leap) << c.year;
  }
}

TEST(Station, EveryMinuteOfALeapYearRoundTrips) {
  for (const StationZone& z : kZones) {
    const Station& station = *find_station(z.station);
    HostZone zone(z.station);
    int bad = 0;
    for (std::int64_t s = utc(2024, 1, 1, 0, 0, 0); s < utc(2025, 1, 1, 0, 0, 0) && bad < 3;
         s += 60) {
      StationFrame frame{};
      std::string carries;
      StationTime t;
      std::tm want{};
      const std::time_t carried = static_cast<std::time_t>(s + z.carried_after);
      z.in_utc ? gmtime_r(&carried, &want) : localtime_r(&carried, &want);
      const int first = station.first_symbol_position;
      const bool ok = station.encode(s, host_local, tz_database_time, frame, carries) &&
                      frame[first] == station.first_symbol &&
                      frame[(first + 59) % 60] == station.closing_symbol &&
                      station.decode(frame, t, nullptr) && t.year == want.tm_year + 1900 &&
                      t.month == want.tm_mon + 1 && t.day == want.tm_mday &&
                      t.hour == want.tm_hour && t.minute == want.tm_min &&
                      t.day_of_week == want.tm_wday && t.day_of_year == want.tm_yday + 1 &&
                      t.zone == (want.tm_isdst > 0 ? z.summer : z.standard);
      if (!ok) {
        ++bad;
        ADD_FAILURE() << z.station << " sent at " << s;
      }
    }
  }
}

// A pinned frame with `glyphs` written over it from position `at`.
struct Corrupt { const char *station, *base; int at; const char *glyphs, *reason; };
const Corrupt kCorrupt[] = {
    {"jjy40", kJjy1305, 29, "_", "missing position marker"},
    {"jjy40", kJjy1305, 59, "-", "missing position marker"},
    {"jjy40", kJjy1305, 26, "|", "marker in a data position"},
    {"jjy40", kJjy1305, 4, "|", "marker in a data position"},
    {"jjy40", kJjy1305, 36, "_", "hour parity (PA1) mismatch"},
    {"jjy40", kJjy1305, 16, "-", "hour parity (PA1) mismatch"},
    {"jjy40", kJjy1305, 37, "-", "minute parity (PA2) mismatch"},
    {"jjy40", kJjy1305, 7, "-", "minute parity (PA2) mismatch"},
    // Out of range with the parity still right: minute units 10, hour 25,
    // day 000, day 367, day of week 7; and Friday on a Saturday.
    {"jjy40", kJjy1305, 5, "-_-_", "field out of range"},
    {"jjy40", kJjy1305, 12, "-___-_-", "field out of range"},
    {"jjy40", kJjy1305, 22, "_______|____", "field out of range"},
    {"jjy40", kJjy1305, 22, "--__--_|_---", "field out of range"},
    {"jjy40", kJjy1305, 50, "---", "field out of range"},
    {"jjy40", kJjy1305, 50, "-_-", "day of week disagrees with the date"},
    {"wwvb", kWwvbNist, 9, "_", "missing marker"},
    {"wwvb", kWwvbNist, 4, "|", "marker in a data position"},
    {"wwvb", kWwvbNist, 10, "-", "always-zero bit is 1"},
    {"wwvb", kWwvbNist, 36, "---", "DUT1 sign bits are neither 1,0,1 nor 0,1,0"},
    {"wwvb", kWwvbNist, 5, "-_-_", "bad BCD digit"},  // minute units 10
    {"wwvb", kWwvbNist, 12, "--", "field out of range"},  // hour 38
    {"wwvb", kWwvbNist, 55, "_", "leap-year bit disagrees with the year"},
    {"dcf77", kDcf77Winter, 5, "x", "not a DCF77 symbol"},
    {"dcf77", kDcf77Winter, 59, "_", "missing minute mark"},
    {"dcf77", kDcf77Winter, 30, "|", "minute mark in a data position"},
    {"dcf77", kDcf77Winter, 0, "-", "fixed bit 0 is not 0"},
    {"dcf77", kDcf77Winter, 20, "_", "fixed bit 20 is not 1"},
    {"dcf77", kDcf77Winter, 17, "-", "Z1 and Z2 are equal"},
    {"dcf77", kDcf77Winter, 22, "_", "minute parity P1 mismatch"},
    {"dcf77", kDcf77Winter, 29, "_", "hour parity P2 mismatch"},
    {"dcf77", kDcf77Winter, 50, "-", "date parity P3 mismatch"},
    {"dcf77", kDcf77Winter, 21, "----", "bad BCD digit"},  // minute units 15, P1 still even
    {"dcf77", kDcf77Winter, 29, "--__--_", "field out of range"},  // hour 33 with its P2
    {"dcf77", kDcf77Winter, 42, "_-_", "day of week disagrees with the date"},  // Tuesday
    {"msf", kMsfWinter, 0, "_", "missing minute marker"},
    {"msf", kMsfWinter, 5, "|", "minute marker in a data position"},
    {"msf", kMsfWinter, 53, "_", "minute identifier A52-A59 is not 01111110"},
    {"msf", kMsfWinter, 20, ".", "always-zero bit is 1"},  // B20
    {"msf", kMsfWinter, 1, "._______.", "DUT1 both positive and negative"},
    {"msf", kMsfWinter, 17, "-", "year parity B54 mismatch"},
    {"msf", kMsfWinter, 25, "_", "date parity B55 mismatch"},
    {"msf", kMsfWinter, 38, "_", "day-of-week parity B56 mismatch"},
    {"msf", kMsfWinter, 45, "-", "time parity B57 mismatch"},
    {"msf", kMsfWinter, 48, "-_-_", "bad BCD digit"},  // minute units 10
    {"msf", kMsfWinter, 39, "--__-_", "field out of range"},  // hour 32
    {"msf", kMsfWinter, 36, "_-_", "day of week disagrees with the date"},  // Tuesday
    {"bpc", kBpcPublished, 5, "x", "not a BPC symbol"},
    {"bpc", kBpcPublished, 20, "0", "missing block marker"},
    {"bpc", kBpcPublished, 5, "|", "block marker in a data position"},
    {"bpc", kBpcPublished, 21, "2", "block number out of place"},
    {"bpc", kBpcPublished, 2, "1", "unused second is not 0"},
    {"bpc", kBpcPublished, 10, "3", "time parity P1 mismatch"},
    {"bpc", kBpcPublished, 19, "0", "date parity P2 mismatch"},
    {"bpc", kBpcPublished, 3, "30", "field out of range"},  // hour 12, P1 still even
    {"bpc", kBpcPublished, 25, "32", "the three blocks disagree"},  // minute 59 in block 1
    // Saturday (01 10) in every block, each P1 flipped.
    {"bpc", kBpcPublished, 8, "123112301201|1000233122112301201|2000233122",
     "day of week disagrees with the date"},
};

TEST(Station, CorruptFramesAreRefusedForTheirReason) {
  for (const Corrupt& c : kCorrupt) {
    const Station& station = *find_station(c.station);
    std::string glyphs = c.base;
    glyphs.replace(c.at, std::strlen(c.glyphs), c.glyphs);
    EXPECT_EQ(decoded(station, frame_of_glyphs(station, glyphs)), std::string("refused: ") + c.reason)
        << glyphs;
  }
  // JJY's unused positions, spare bits SU1 and SU2 and leap-second warning.
  for (int p : {4, 10, 11, 14, 20, 21, 24, 34, 35, 38, 40, 53, 54, 55, 56, 57, 58}) {
    std::string glyphs = kJjy1305;
    glyphs[p] = '-';
    EXPECT_EQ(decoded(*find_station("jjy40"), frame_of_glyphs(*find_station("jjy40"), glyphs)),
              "refused: one in an always-zero position") << p;
  }
}

}  // namespace
