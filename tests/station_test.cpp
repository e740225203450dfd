// Tests of the WWVB, DCF77 and MSF codes behind the station table: pinned
// minutes, the minutes around summer-time changes and year ends, every minute
// of a leap year through encoder and decoder, and the frames each refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "timecode/station.h"
#include "utc.h"

namespace {

// Sets the host's zone for one test and puts the previous one back.
struct HostZone {
  explicit HostZone(const char* tz) : had(std::getenv("TZ") != nullptr) {
    if (had) saved = std::getenv("TZ");
    setenv("TZ", tz, 1);
    tzset();
  }
  ~HostZone() {
    if (had) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  bool had;
  std::string saved;
};

bool host_local(std::int64_t seconds, std::tm& out) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}

// A glyph no station has becomes a symbol past the station's last.
StationFrame parse(const Station& station, const std::string& glyphs) {
  StationFrame frame{};
  for (int p = 0; p < 60 && p < static_cast<int>(glyphs.size()); ++p) {
    int s = 0;
    while (s < station.symbol_count && station.symbols[s].glyph != glyphs[p]) ++s;
    frame[p] = static_cast<StationSymbol>(s);
  }
  return frame;
}

// "2026-03-29 Sun 088 03:00 CEST; summer time change announced"
std::string describe(const StationTime& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %s %03d %02d:%02d ", t.year, t.month, t.day,
                t.day_of_week >= 0 && t.day_of_week < 7 ? kDays[t.day_of_week] : "?",
                t.day_of_year, t.hour, t.minute);
  return text + t.zone + (t.notes.empty() ? "" : "; " + t.notes);
}

// What the decoder makes of a frame: its description, or "refused: reason".
std::string decoded(const Station& station, const StationFrame& frame) {
  StationTime t;
  const char* reason = "";
  return station.decode(frame, t, &reason) ? describe(t) : std::string("refused: ") + reason;
}

// The zone each station's tests run in, and the names of its two times.
struct StationZone { const char* station; const char* tz; const char* standard; const char* summer; };
constexpr StationZone kZones[] = {
    {"wwvb", "America/Chicago", "UTC", "UTC"},
    {"dcf77", "Europe/Berlin", "CET", "CEST"},
    {"msf", "Europe/London", "GMT", "BST"},
};

const StationZone& zone_of(const char* station) {
  for (const StationZone& z : kZones)
    if (std::strcmp(z.station, station) == 0) return z;
  return kZones[0];
}

// Hand-checked: each field's digits written out from the station's field
// table (weights, positions, parity) before the encoder existed.
const char kWwvbNist[] =  // NIST's WWVB format example: 2008 day 258 18:42 UTC, DUT1 -0.3 s, LY, DST
    "|-_____-_|___-_-___|__-___-_-|-______-_|__--_____|-____-_--|";
const char kDcf77Winter[] =  // 13:06 CET Mon 7 Dec 2026: min 0110000 P1 0, hour 110010 P2 1, P3 1
    "__________________-_-_--_____--__-_----___-___-__-_--__-__-|";
const char kMsfWinter[] =  // 13:06 GMT Mon 7 Dec 2026: every parity B54-57 0 (odd counts 3, 5, 1, 5)
    "|__________________-__--_-__-____---__-_-__--____--__------_";

struct Pinned {
  const char* station;
  std::int64_t sent;  // second 0 of the minute it is sent in; 0: decode only
  const char* glyphs;
  const char* carries;
  const char* time;
};

const Pinned kPinned[] = {
    {"wwvb", 0, kWwvbNist, "", "2008-09-14 Sun 258 18:42 UTC; DST in effect"},
    // Minute 50 = 101 1001, hour 23 = 10 0011, day 366 = 11 0110 0110, year 24, LY 1, DST 00.
    {"wwvb", utc(2024, 12, 31, 23, 59, 0),
     "|-_-_-__-|__-____--|__--__--_|_--___-_-|_______-_|_-___-___|", "= 23:59 UTC",
     "2024-12-31 Tue 366 23:59 UTC"},
    // 01:59 CST, the US change day: day 067, year 26, DST 57/58 = 1,0.
    {"wwvb", utc(2026, 3, 8, 7, 59, 0),
     "|-_-_-__-|______---|______--_|_---__-_-|_______-_|_--____-_|", "= 07:59 UTC",
     "2026-03-08 Sun 067 07:59 UTC; DST begins today"},
    {"dcf77", utc(2026, 12, 7, 12, 5, 0), kDcf77Winter, "= 13:06 CET",
     "2026-12-07 Mon 341 13:06 CET"},
    // Sent at 01:59 CET, the last minute before the spring change: A1 1, Z1 Z2 1 0,
    // hour 1100 00 P2 0, day 1001 01, Sunday 111, month 11000, P3 1 (11 ones).
    {"dcf77", utc(2026, 3, 29, 0, 59, 0),
     "________________--__-________--_____-__-_------____--__-__-|", "= 03:00 CEST",
     "2026-03-29 Sun 088 03:00 CEST; summer time change announced"},
    {"msf", utc(2026, 12, 7, 13, 5, 0), kMsfWinter, "= 13:06 GMT", "2026-12-07 Mon 341 13:06 GMT"},
    // Sent at 00:59 GMT before the spring change: B53 1, B56 1 (Sunday 000), B58 1.
    {"msf", utc(2026, 3, 29, 0, 59, 0),
     "|__________________-__--____---_-__-_______-_________=--=-=_", "= 02:00 BST",
     "2026-03-29 Sun 088 02:00 BST; summer time change announced"},
};

TEST(Station, PinnedMinutesEncodeAndDecode) {
  for (const Pinned& p : kPinned) {
    const Station& station = *find_station(p.station);
    HostZone zone(zone_of(p.station).tz);
    ASSERT_EQ(std::strlen(p.glyphs), 60u) << p.glyphs;
    EXPECT_EQ(decoded(station, parse(station, p.glyphs)), p.time) << p.glyphs;
    if (p.sent == 0) continue;
    StationFrame frame{};
    std::string carries;
    ASSERT_TRUE(station.encode(p.sent, host_local, frame, carries));
    EXPECT_EQ(station_frame_glyphs(station, frame), p.glyphs) << p.time;
    EXPECT_EQ(carries, p.carries);
  }
}

struct Around {
  const char* station;
  std::int64_t sent;
  const char* time;
};

// The change instants: 8 March and 1 November 2026 at 02:00 in Chicago; 29
// March and 25 October 2026 at 01:00 UTC in Berlin and London. DCF77's A1
// goes out through the hour before the change (second 16 of 01:00 to 01:59
// CET in spring), MSF's B53 through the 61 minutes before it.
const Around kAround[] = {
    {"wwvb", utc(2026, 3, 7, 23, 59, 0), "2026-03-07 Sat 066 23:59 UTC"},
    {"wwvb", utc(2026, 3, 8, 0, 0, 0), "2026-03-08 Sun 067 00:00 UTC; DST begins today"},
    {"wwvb", utc(2026, 3, 8, 23, 59, 0), "2026-03-08 Sun 067 23:59 UTC; DST begins today"},
    {"wwvb", utc(2026, 3, 9, 0, 0, 0), "2026-03-09 Mon 068 00:00 UTC; DST in effect"},
    {"wwvb", utc(2026, 10, 31, 23, 59, 0), "2026-10-31 Sat 304 23:59 UTC; DST in effect"},
    {"wwvb", utc(2026, 11, 1, 0, 0, 0), "2026-11-01 Sun 305 00:00 UTC; DST ends today"},
    {"wwvb", utc(2026, 11, 1, 23, 59, 0), "2026-11-01 Sun 305 23:59 UTC; DST ends today"},
    {"wwvb", utc(2026, 11, 2, 0, 0, 0), "2026-11-02 Mon 306 00:00 UTC"},
    {"wwvb", utc(2025, 1, 1, 0, 0, 0), "2025-01-01 Wed 001 00:00 UTC"},
    {"wwvb", utc(2026, 12, 31, 23, 59, 0), "2026-12-31 Thu 365 23:59 UTC"},
    {"dcf77", utc(2026, 3, 28, 23, 59, 0), "2026-03-29 Sun 088 01:00 CET"},
    {"dcf77", utc(2026, 3, 29, 0, 0, 0), "2026-03-29 Sun 088 01:01 CET; summer time change announced"},
    {"dcf77", utc(2026, 3, 29, 0, 58, 0), "2026-03-29 Sun 088 01:59 CET; summer time change announced"},
    {"dcf77", utc(2026, 3, 29, 1, 0, 0), "2026-03-29 Sun 088 03:01 CEST"},
    {"dcf77", utc(2026, 10, 24, 23, 59, 0), "2026-10-25 Sun 298 02:00 CEST"},
    {"dcf77", utc(2026, 10, 25, 0, 0, 0), "2026-10-25 Sun 298 02:01 CEST; summer time change announced"},
    {"dcf77", utc(2026, 10, 25, 0, 59, 0), "2026-10-25 Sun 298 02:00 CET; summer time change announced"},
    {"dcf77", utc(2026, 10, 25, 1, 0, 0), "2026-10-25 Sun 298 02:01 CET"},
    {"dcf77", utc(2024, 2, 28, 22, 59, 0), "2024-02-29 Thu 060 00:00 CET"},
    {"dcf77", utc(2024, 12, 31, 22, 58, 0), "2024-12-31 Tue 366 23:59 CET"},
    {"dcf77", utc(2024, 12, 31, 22, 59, 0), "2025-01-01 Wed 001 00:00 CET"},
    {"dcf77", utc(2026, 12, 31, 22, 59, 0), "2027-01-01 Fri 001 00:00 CET"},
    {"msf", utc(2026, 3, 28, 23, 58, 0), "2026-03-28 Sat 087 23:59 GMT"},
    {"msf", utc(2026, 3, 28, 23, 59, 0), "2026-03-29 Sun 088 00:00 GMT; summer time change announced"},
    {"msf", utc(2026, 3, 29, 1, 0, 0), "2026-03-29 Sun 088 02:01 BST"},
    {"msf", utc(2026, 10, 24, 23, 58, 0), "2026-10-25 Sun 298 00:59 BST"},
    {"msf", utc(2026, 10, 24, 23, 59, 0), "2026-10-25 Sun 298 01:00 BST; summer time change announced"},
    {"msf", utc(2026, 10, 25, 0, 59, 0), "2026-10-25 Sun 298 01:00 GMT; summer time change announced"},
    {"msf", utc(2026, 10, 25, 1, 0, 0), "2026-10-25 Sun 298 01:01 GMT"},
    {"msf", utc(2024, 12, 31, 23, 58, 0), "2024-12-31 Tue 366 23:59 GMT"},
    {"msf", utc(2024, 12, 31, 23, 59, 0), "2025-01-01 Wed 001 00:00 GMT"},
    {"msf", utc(2026, 12, 31, 23, 59, 0), "2027-01-01 Fri 001 00:00 GMT"},
};

TEST(Station, MinutesAroundChangesAndYearEnds) {
  for (const Around& a : kAround) {
    const Station& station = *find_station(a.station);
    HostZone zone(zone_of(a.station).tz);
    StationFrame frame{};
    std::string carries;
    ASSERT_TRUE(station.encode(a.sent, host_local, frame, carries));
    EXPECT_EQ(decoded(station, frame), a.time) << station_frame_glyphs(station, frame);
  }
}

// Every minute of leap year 2024 in the station's zone, against the C
// library's own conversion of the minute the frame carries.
TEST(Station, EveryMinuteOfALeapYearRoundTrips) {
  for (const StationZone& z : kZones) {
    const Station& station = *find_station(z.station);
    HostZone zone(z.tz);
    const bool utc_frames = std::strcmp(z.station, "wwvb") == 0;
    const std::int64_t ahead = utc_frames ? 0 : 60;  // DCF77 and MSF carry the next minute
    int bad = 0;
    for (std::int64_t s = utc(2024, 1, 1, 0, 0, 0); s < utc(2025, 1, 1, 0, 0, 0) && bad < 3; s += 60) {
      StationFrame frame{};
      std::string carries;
      StationTime t;
      std::tm want{};
      const std::time_t carried = static_cast<std::time_t>(s + ahead);
      if (utc_frames) gmtime_r(&carried, &want);
      else localtime_r(&carried, &want);
      const char* zone_name = want.tm_isdst > 0 ? z.summer : z.standard;
      const bool ok = station.encode(s, host_local, frame, carries) &&
                      frame[0] == station.first_symbol && frame[59] == station.closing_symbol &&
                      station.decode(frame, t, nullptr) && t.year == want.tm_year + 1900 &&
                      t.month == want.tm_mon + 1 && t.day == want.tm_mday &&
                      t.hour == want.tm_hour && t.minute == want.tm_min &&
                      t.day_of_week == want.tm_wday && t.day_of_year == want.tm_yday + 1 &&
                      t.zone == zone_name;
      if (!ok) {
        ++bad;
        ADD_FAILURE() << z.station << " sent at " << s << ": " << station_frame_glyphs(station, frame);
      }
    }
  }
}

struct Corrupt {
  const char* station;
  const char* base;
  int at;                  // the first position overwritten
  const char* glyphs;      // written from `at` on
  const char* reason;
};

const Corrupt kCorrupt[] = {
    {"wwvb", kWwvbNist, 3, "x", "not a WWVB symbol"},
    {"wwvb", kWwvbNist, 9, "_", "missing marker"},
    {"wwvb", kWwvbNist, 4, "|", "marker in a data position"},
    {"wwvb", kWwvbNist, 10, "-", "always-zero bit is 1"},
    {"wwvb", kWwvbNist, 36, "---", "DUT1 sign bits are neither 1,0,1 nor 0,1,0"},
    {"wwvb", kWwvbNist, 5, "-_-_", "bad BCD digit"},               // minute units 10
    {"wwvb", kWwvbNist, 12, "--", "field out of range"},           // hour 38
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
    {"dcf77", kDcf77Winter, 21, "----", "bad BCD digit"},          // minute units 15, P1 still even
    {"dcf77", kDcf77Winter, 29, "--__--_", "field out of range"},  // hour 33 with its P2
    {"dcf77", kDcf77Winter, 42, "_-_", "day of week disagrees with the date"},  // Tuesday
    {"msf", kMsfWinter, 7, "x", "not an MSF symbol"},
    {"msf", kMsfWinter, 0, "_", "missing minute marker"},
    {"msf", kMsfWinter, 5, "|", "minute marker in a data position"},
    {"msf", kMsfWinter, 53, "_", "minute identifier A52-A59 is not 01111110"},
    {"msf", kMsfWinter, 3, "-", "always-zero bit is 1"},
    {"msf", kMsfWinter, 20, ".", "always-zero bit is 1"},          // B20
    {"msf", kMsfWinter, 1, "._______.", "DUT1 both positive and negative"},
    {"msf", kMsfWinter, 17, "-", "year parity B54 mismatch"},
    {"msf", kMsfWinter, 25, "_", "date parity B55 mismatch"},
    {"msf", kMsfWinter, 38, "_", "day-of-week parity B56 mismatch"},
    {"msf", kMsfWinter, 45, "-", "time parity B57 mismatch"},
    {"msf", kMsfWinter, 48, "-_-_", "bad BCD digit"},              // minute units 10
    {"msf", kMsfWinter, 39, "--__-_", "field out of range"},       // hour 32
    {"msf", kMsfWinter, 36, "_-_", "day of week disagrees with the date"},  // Tuesday
};

TEST(Station, CorruptFramesAreRefusedForTheirReason) {
  for (const Corrupt& c : kCorrupt) {
    const Station& station = *find_station(c.station);
    std::string glyphs = c.base;
    glyphs.replace(c.at, std::strlen(c.glyphs), c.glyphs);
    StationTime t;
    t.year = -1;
    const char* reason = "";
    EXPECT_FALSE(station.decode(parse(station, glyphs), t, &reason)) << glyphs;
    EXPECT_STREQ(reason, c.reason) << glyphs;
    EXPECT_EQ(t.year, -1) << glyphs;
  }
}

// Widths at 960 characters a second: 96 = 0.1 s.
TEST(Station, TableOrderAndPulseShapes) {
  std::string names;
  for (const Station* const* s = kStations; *s != nullptr; ++s) names += std::string((*s)->name) + " ";
  EXPECT_EQ(names, "jjy40 jjy60 wwvb dcf77 msf ");
  struct Shape { const char* station; char glyph; PulseShape shape; };
  const Shape kShapes[] = {
      {"wwvb", '_', {192, 0, 0}},  {"wwvb", '-', {480, 0, 0}}, {"wwvb", '|', {768, 0, 0}},
      {"dcf77", '_', {96, 0, 0}},  {"dcf77", '-', {192, 0, 0}}, {"dcf77", '|', {0, 0, 0}},
      {"msf", '|', {480, 0, 0}},   {"msf", '_', {96, 0, 0}},   {"msf", '-', {192, 0, 0}},
      {"msf", '.', {96, 96, 96}},  {"msf", '=', {288, 0, 0}},
  };
  for (const Shape& s : kShapes) {
    const Station& station = *find_station(s.station);
    const StationSymbol symbol = parse(station, std::string(60, s.glyph))[0];
    ASSERT_LT(symbol, station.symbol_count) << s.station << " " << s.glyph;
    const PulseShape& got = station.symbols[symbol].shape;
    EXPECT_TRUE(got.keyed == s.shape.keyed && got.gap == s.shape.gap &&
                got.keyed_again == s.shape.keyed_again)
        << s.station << " " << s.glyph;
  }
}

}  // namespace
