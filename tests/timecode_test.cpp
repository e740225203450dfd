// Tests of the JJY time code: known minutes as the line carries them, encoded
// in place one after another; the day-of-year digits; every minute of two
// whole years through encoder and decoder; the frames the decoder must refuse.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>

#include "timecode/timecode.h"

namespace {

SimulatedTime at(int year, int yday, int wday, int hour, int minute) {
  SimulatedTime t{};
  t.tm_year = year - 1900, t.tm_yday = yday, t.tm_wday = wday, t.tm_hour = hour, t.tm_min = minute;
  return t;
}

bool same(const DecodedMinute& m, const SimulatedTime& t) {
  return m.minute == t.tm_min && m.hour == t.tm_hour && m.day_of_year == t.tm_yday + 1 &&
         m.year_of_century == t.tm_year % 100 && m.day_of_week == t.tm_wday;
}

// The reason decode_frame gives for refusing `frame`; None when it takes the
// frame, or writes its output although it refuses it.
DecodeError refusal(const TimeCodeFrame& frame) {
  DecodedMinute m{-1, -1, -1, -1, -1};
  DecodeError error = DecodeError::None;
  return decode_frame(frame, m, &error) || m.minute != -1 ? DecodeError::None : error;
}

struct Known { SimulatedTime t; const char* glyphs; };
const Known kKnown[] = {
    // Saturday 26 June 2010, 13:05, day 177: PA1 1, PA2 0.
    {at(2010, 176, 6, 13, 5), "|_____-_-|___-___--|___-__---|_---__-__|____-____|--_______|"},
    // Monday 31 December 2012, 23:59, day 366 of a leap year.
    {at(2012, 365, 1, 23, 59), "|-_-_-__-|__-____--|__--__--_|_--___-__|____-__-_|__-______|"},
    // Saturday 1 January 2011, 00:00, day 001.
    {at(2011, 0, 6, 0, 0), "|________|_________|_________|___-_____|____-___-|--_______|"},
    // The same Saturday at 13:17: the minute's tens (bits 1-4) hold one 1,
    // so PA2 (0, over bits 1-8) differs from the parity of the units alone.
    {at(2010, 176, 6, 13, 17), "|__-__---|___-___--|___-__---|_---__-__|____-____|--_______|"},
};

TEST(TimeCode, KnownMinutesEncodeInPlaceAndDecode) {
  TimeCodeFrame reused = make_frame();
  for (int i : {0, 1, 2, 0, 2, 1, 0, 3}) {  // each known minute after each other one
    encode_frame(reused, kKnown[i].t);
    EXPECT_EQ(frame_glyphs(reused), kKnown[i].glyphs);
    TimeCodeFrame parsed;
    DecodedMinute m{};
    ASSERT_TRUE(parse_frame_glyphs(kKnown[i].glyphs, parsed));
    EXPECT_TRUE(decode_frame(parsed, m) && same(m, kKnown[i].t)) << kKnown[i].glyphs;
  }
  TimeCodeFrame frame = make_frame();
  EXPECT_FALSE(parse_frame_glyphs(std::string(59, '_'), frame));
  EXPECT_FALSE(parse_frame_glyphs(std::string(61, '_'), frame));
  EXPECT_FALSE(parse_frame_glyphs(std::string(59, '_') + "x", frame));
  EXPECT_EQ(frame, make_frame());
}

TEST(TimeCode, DayOfYearIsSentOneBased) {
  // Positions 22-33: hundreds, a zero, tens, the marker at 29, units.
  TimeCodeFrame frame = make_frame();
  encode_frame(frame, at(2010, 99, 5, 0, 0));
  EXPECT_EQ(frame_glyphs(frame).substr(22, 12), "_-_____|____");  // day 100
  encode_frame(frame, at(2010, 98, 4, 0, 0));
  EXPECT_EQ(frame_glyphs(frame).substr(22, 12), "___-__-|-__-");  // day 099
}

// Encodes every minute of a year into `reused`, marks the positions ever One,
// and returns the first minute ("day hh:mm") that doesn't decode back. A frame
// that passes every check and gives back every field is fully determined, so
// this also shows that nothing of the previous minute survived.
std::string first_bad_minute(TimeCodeFrame& reused, std::array<bool, 60>& ever_one, int year,
                             int jan1_wday, int days) {
  for (int yday = 0; yday < days; ++yday)
    for (int hour = 0; hour < 24; ++hour)
      for (int minute = 0; minute < 60; ++minute) {
        const SimulatedTime t = at(year, yday, (jan1_wday + yday) % 7, hour, minute);
        encode_frame(reused, t);
        for (int p = 0; p < 60; ++p) ever_one[p] |= reused[p] == TimeCodeSymbol::One;
        DecodedMinute m{};
        if (!decode_frame(reused, m) || !same(m, t))
          return std::to_string(yday + 1) + " " + std::to_string(hour) + ":" + std::to_string(minute);
      }
  return "";
}

TEST(TimeCode, EveryMinuteOfAYearRoundTrips) {
  TimeCodeFrame frame = make_frame();
  std::array<bool, 60> ever_one{};
  // 77 and 88 differ in every year bit, so between them every data bit is set and cleared.
  EXPECT_EQ(first_bad_minute(frame, ever_one, 2077, 5, 365), "");
  EXPECT_EQ(first_bad_minute(frame, ever_one, 2088, 4, 366), "");

  // What the encoder never sets, the decoder must refuse as One.
  int always_zero = 0;
  for (int p = 0; p < 60; ++p)
    if (!ever_one[p] && make_frame()[p] != TimeCodeSymbol::Marker) {
      ASSERT_TRUE(parse_frame_glyphs(kKnown[0].glyphs, frame));
      frame[p] = TimeCodeSymbol::One;
      EXPECT_EQ(refusal(frame), DecodeError::ReservedBit) << "position " << p;
      ++always_zero;
    }
  EXPECT_EQ(always_zero, 17);
}

TEST(TimeCode, DecodeRefusesCorruptedFrames) {
  struct Case { int first; const char* glyphs; DecodeError error; };  // written over 13:05
  const Case cases[] = {
      {29, "_", DecodeError::Marker},       {59, "-", DecodeError::Marker},
      {26, "|", DecodeError::StrayMarker},  {4, "|", DecodeError::StrayMarker},
      {40, "-", DecodeError::ReservedBit},  {36, "_", DecodeError::HourParity},
      {16, "-", DecodeError::HourParity},   {37, "-", DecodeError::MinuteParity},
      {7, "-", DecodeError::MinuteParity},
      // Out of range with the parity still right: minute units 10, hour 25,
      // day 000, day 367, day of week 7.
      {5, "-_-_", DecodeError::BadDigit},   {12, "-___-_-", DecodeError::BadDigit},
      {22, "_______|____", DecodeError::BadDigit},
      {22, "--__--_|_---", DecodeError::BadDigit}, {50, "---", DecodeError::BadDigit},
  };
  std::set<std::string> reasons;
  for (const Case& c : cases) {
    std::string glyphs = kKnown[0].glyphs;
    glyphs.replace(c.first, std::strlen(c.glyphs), c.glyphs);
    TimeCodeFrame frame;
    ASSERT_TRUE(parse_frame_glyphs(glyphs, frame));
    EXPECT_EQ(refusal(frame), c.error) << glyphs;
    reasons.insert(decode_error_text(c.error));
  }
  EXPECT_EQ(reasons.size(), 6u) << "each refusal has its own reason";
}

}  // namespace
