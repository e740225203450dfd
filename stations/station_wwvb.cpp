// WWVB (Fort Collins, 60 kHz) behind the station table: the frame of the
// minute being sent, in UTC, with the carrier reduced at the start of each
// second; the DST bits follow the US law, from the system's zone data.
#include <cstdio>

#include "stations/calendar.h"
#include "stations/station.h"
#include "stations/station_bits.h"

namespace {

enum WwvbSymbol : StationSymbol { kZero, kOne, kMarker };

constexpr StationSymbolInfo kWwvbSymbols[] = {
    {'_', {192, 0, 0}, "0 bit, 0.2 s reduced"},
    {'-', {480, 0, 0}, "1 bit, 0.5 s reduced"},
    {'|', {768, 0, 0}, "marker, 0.8 s reduced"},
};

enum FieldIndex { kMinute, kHour, kDayOfYear, kYear, kDut1, kFieldCount };

constexpr BcdField kFields[kFieldCount] = {
    {1, {40, 20, 10, 0, 8, 4, 2, 1}, 0, 59},
    {12, {20, 10, 0, 8, 4, 2, 1}, 0, 23},
    {22, {200, 100, 0, 80, 40, 20, 10, 0, 8, 4, 2, 1}, 1, 366},  // 29 is a marker
    {45, {80, 40, 20, 10, 0, 8, 4, 2, 1}, 0, 99},                // 49 is a marker
    {40, {8, 4, 2, 1}, 0, 9},                                    // DUT1 in 0.1 s
};

constexpr int kMarkers[] = {0, 9, 19, 29, 39, 49, 59};
constexpr int kAlwaysZero[] = {4, 10, 11, 14, 20, 21, 24, 34, 35, 44, 54};
constexpr int kDut1Sign = 36;    // 36-38: 1,0,1 positive; 0,1,0 negative
constexpr int kLeapYear = 55;
constexpr int kLeapSecond = 56;  // at the end of this month
constexpr int kDstAtDayEnd = 57;    // DST in effect at 24:00 UTC of this UTC day
constexpr int kDstAtDayStart = 58;  // ... and at its 00:00 UTC

// Why a frame was refused, in the order the checks are made.
enum class WwvbError { None, NotSymbol, Marker, StrayMarker, AlwaysZero, Dut1Sign, BadDigit, Range,
                       LeapYear };

const char* wwvb_error_text(WwvbError e) {
  switch (e) {
    case WwvbError::None: return "no error";
    case WwvbError::NotSymbol: return "not a WWVB symbol";
    case WwvbError::Marker: return "missing marker";
    case WwvbError::StrayMarker: return "marker in a data position";
    case WwvbError::AlwaysZero: return "always-zero bit is 1";
    case WwvbError::Dut1Sign: return "DUT1 sign bits are neither 1,0,1 nor 0,1,0";
    case WwvbError::BadDigit: return "bad BCD digit";
    case WwvbError::Range: return "field out of range";
    case WwvbError::LeapYear: return "leap-year bit disagrees with the year";
  }
  return "unknown error";
}

// The instants the DST bits describe, 00:00 and 24:00 UTC, fall in the
// evening before in every US zone, after any change of that day at 02:00
// local: the law read in one of them holds for all. It is read from the
// system's zone data, which keeps the rules of every year (2007's change
// among them) and follows any new law.
constexpr const char* kUsLawZone = "America/New_York";

// The frame carries UTC and its DST bits follow the US law, whatever the
// zone the host or --zone names: `local` is of no use to it.
bool encode_wwvb(std::int64_t minute_start, LocalTimeFn, ZoneTimeFn in_zone, StationFrame& frame,
                 std::string& carries) {
  std::tm t{}, at_end{}, at_start{};
  utc_time(minute_start, t);
  const std::int64_t day_start = minute_start - (t.tm_hour * 60 + t.tm_min) * 60 - t.tm_sec;
  if (!in_zone(kUsLawZone, day_start + 86400, at_end) ||
      !in_zone(kUsLawZone, day_start, at_start))
    return false;
  const bool dst_end = at_end.tm_isdst > 0;
  const bool dst_start = at_start.tm_isdst > 0;
  const int year = t.tm_year + 1900;
  StationBits bits{};
  put_bcd(bits, kFields[kMinute], t.tm_min);
  put_bcd(bits, kFields[kHour], t.tm_hour);
  put_bcd(bits, kFields[kDayOfYear], t.tm_yday + 1);
  put_bcd(bits, kFields[kYear], year % 100);
  put_bcd(bits, kFields[kDut1], 0);           // DUT1 +0.0 s: kolvan keeps no UT1
  bits[kDut1Sign] = bits[kDut1Sign + 2] = 1;  // positive
  bits[kLeapYear] = is_leap_year(year);
  bits[kDstAtDayEnd] = dst_end;
  bits[kDstAtDayStart] = dst_start;
  StationSymbol* out = frame.data();
  for (int p = 0; p < 60; ++p) out[p] = bits[p] ? kOne : kZero;
  for (int p : kMarkers) frame[p] = kMarker;
  char text[24];
  std::snprintf(text, sizeof text, "= %02d:%02d UTC", t.tm_hour, t.tm_min);
  carries = text;
  return true;
}

// The first check a frame fails, or None; `bits` gets its data bits.
WwvbError check_wwvb(const StationFrame& frame, StationBits& bits) {
  int markers = 0;
  const StationSymbol* in = frame.data();
  for (int p = 0; p < 60; ++p) {
    const StationSymbol s = in[p];
    if (s > kMarker) return WwvbError::NotSymbol;
    markers += s == kMarker;
    bits[p] = s == kOne;
  }
  for (int p : kMarkers)
    if (frame[p] != kMarker) return WwvbError::Marker;
  if (markers != static_cast<int>(sizeof kMarkers / sizeof kMarkers[0]))
    return WwvbError::StrayMarker;
  for (int p : kAlwaysZero)
    if (bits[p]) return WwvbError::AlwaysZero;
  const int sign = bits[kDut1Sign] * 4 + bits[kDut1Sign + 1] * 2 + bits[kDut1Sign + 2];
  if (sign != 5 && sign != 2) return WwvbError::Dut1Sign;
  const BcdCheck fields = check_bcd_fields(bits, kFields, kFieldCount);
  if (fields == BcdCheck::BadDigit) return WwvbError::BadDigit;
  if (fields == BcdCheck::OutOfRange) return WwvbError::Range;
  return WwvbError::None;
}

const char* dst_note(bool at_day_end, bool at_day_start) {
  if (at_day_end && at_day_start) return "DST in effect";
  if (at_day_end) return "DST begins today";
  if (at_day_start) return "DST ends today";
  return "";
}

bool decode_wwvb(const StationFrame& frame, StationTime& out, const char** reason) {
  StationBits bits{};
  WwvbError e = check_wwvb(frame, bits);
  StationTime t;
  if (e == WwvbError::None) {
    t.year = 2000 + bcd_value(bits, kFields[kYear]);
    t.day_of_year = bcd_value(bits, kFields[kDayOfYear]);
    if (bits[kLeapYear] != is_leap_year(t.year)) e = WwvbError::LeapYear;
    else if (complete_date(t, DateSent::DayOfYear, WeekdaySent::No) != DateCheck::Valid)
      e = WwvbError::Range;
  }
  if (e != WwvbError::None) {
    if (reason) *reason = wwvb_error_text(e);
    return false;
  }
  t.hour = bcd_value(bits, kFields[kHour]);
  t.minute = bcd_value(bits, kFields[kMinute]);
  t.zone = "UTC";
  t.checks = "markers ok";  // WWVB's frame has no parity bits
  add_note(t.notes, dst_note(bits[kDstAtDayEnd], bits[kDstAtDayStart]));
  if (bits[kLeapSecond]) add_note(t.notes, "leap second at the month's end");
  out = t;
  return true;
}

// Filled field by field, by name: C++17 has no designated initialisers.
constexpr Station wwvb_row() {
  Station s{};
  s.name = "wwvb";
  s.call_sign = "WWVB";
  s.time_note = "UTC + offset (the clock applies its zone), DST bits by US rules";
  s.carrier_hz = 60000.0;
  s.keyed_is_carrier_high = false;
  s.skips_call_sign_minutes = false;
  s.symbols = kWwvbSymbols;
  s.symbol_count = 3;
  s.first_symbol = kMarker;
  s.closing_symbol = kMarker;
  s.encode = encode_wwvb;
  s.decode = decode_wwvb;
  s.zone = "UTC";
  s.reduced_level = 0.141;  // reduced by 17 dB
  return s;
}

}  // namespace

extern const Station kWwvb = wwvb_row();
