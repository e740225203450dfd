// DCF77 (Mainflingen, 77.5 kHz) behind the station table: German legal time,
// CET or CEST from the host's zone, of the minute that begins as the frame
// ends; the carrier is reduced at the start of each second but the 59th.
#include <cstdio>

#include "stations/station.h"
#include "stations/station_bits.h"

namespace {

enum Dcf77Symbol : StationSymbol { kZero, kOne, kMinuteMark };

constexpr StationSymbolInfo kDcf77Symbols[] = {
    {'_', {96, 0, 0}, "0 bit, 0.1 s reduced"},
    {'-', {192, 0, 0}, "1 bit, 0.2 s reduced"},
    {'|', {0, 0, 0}, "minute mark (second 59), no reduction"},
};

enum FieldIndex { kMinute, kHour, kDay, kWeekday, kMonth, kYear, kFieldCount };

// Least significant bit first.
constexpr BcdField kFields[kFieldCount] = {
    {21, {1, 2, 4, 8, 10, 20, 40}, 0, 59},
    {29, {1, 2, 4, 8, 10, 20}, 0, 23},
    {36, {1, 2, 4, 8, 10, 20}, 1, 31},
    {42, {1, 2, 4}, 1, 7},  // Monday = 1 ... Sunday = 7
    {45, {1, 2, 4, 8, 10}, 1, 12},
    {50, {1, 2, 4, 8, 10, 20, 40, 80}, 0, 99},
};

// Even parity: the ones in first..parity, the parity bit included, are even.
struct Parity { int first; int parity; };
constexpr Parity kParities[] = {{21, 28}, {29, 35}, {36, 58}};  // P1 minute, P2 hour, P3 date

constexpr int kCallBit = 15;      // abnormal transmitter operation
constexpr int kAnnounce = 16;     // A1: CET<->CEST at the end of this hour
constexpr int kSummer = 17;       // Z1, and Z2 at 18 its complement
constexpr int kLeapSecond = 19;   // A2
constexpr int kTimeStart = 20;    // always 1
constexpr int kMinuteMarkAt = 59;

// Why a frame was refused, in the order the checks are made.
enum class Dcf77Error { None, NotSymbol, MinuteMark, StrayMark, Bit0, Bit20, ZoneBits,
                        P1, P2, P3, BadDigit, Range, Weekday };

const char* dcf77_error_text(Dcf77Error e) {
  switch (e) {
    case Dcf77Error::None: return "no error";
    case Dcf77Error::NotSymbol: return "not a DCF77 symbol";
    case Dcf77Error::MinuteMark: return "missing minute mark";
    case Dcf77Error::StrayMark: return "minute mark in a data position";
    case Dcf77Error::Bit0: return "fixed bit 0 is not 0";
    case Dcf77Error::Bit20: return "fixed bit 20 is not 1";
    case Dcf77Error::ZoneBits: return "Z1 and Z2 are equal";
    case Dcf77Error::P1: return "minute parity P1 mismatch";
    case Dcf77Error::P2: return "hour parity P2 mismatch";
    case Dcf77Error::P3: return "date parity P3 mismatch";
    case Dcf77Error::BadDigit: return "bad BCD digit";
    case Dcf77Error::Range: return "field out of range";
    case Dcf77Error::Weekday: return "day of week disagrees with the date";
  }
  return "unknown error";
}

bool encode_dcf77(std::int64_t minute_start, LocalTimeFn local, ZoneTimeFn, StationFrame& frame,
                  std::string& carries) {
  std::tm sent{}, carried{}, hour_on{};
  if (!local(minute_start, sent) || !local(minute_start + 60, carried) ||
      !local(minute_start + 3600, hour_on))
    return false;
  StationBits bits{};
  // A1 goes out through the hour before a change (01:00:16 to 01:59:16 CET in
  // spring): in every frame sent less than an hour before it.
  bits[kAnnounce] = (sent.tm_isdst > 0) != (hour_on.tm_isdst > 0);
  bits[kSummer] = carried.tm_isdst > 0;
  bits[kSummer + 1] = !bits[kSummer];
  bits[kTimeStart] = 1;
  const int values[kFieldCount] = {carried.tm_min,       carried.tm_hour,
                                   carried.tm_mday,      carried.tm_wday == 0 ? 7 : carried.tm_wday,
                                   carried.tm_mon + 1,   carried.tm_year % 100};
  for (int i = 0; i < kFieldCount; ++i) put_bcd(bits, kFields[i], values[i]);
  for (const Parity& p : kParities) bits[p.parity] = count_ones(bits, p.first, p.parity - 1) % 2;
  StationSymbol* out = frame.data();
  for (int p = 0; p < 60; ++p) out[p] = bits[p] ? kOne : kZero;
  frame[kMinuteMarkAt] = kMinuteMark;
  char text[24];
  std::snprintf(text, sizeof text, "= %02d:%02d %s", carried.tm_hour, carried.tm_min,
                bits[kSummer] ? "CEST" : "CET");
  carries = text;
  return true;
}

// The first check a frame fails, or None; `bits` gets its data bits.
Dcf77Error check_dcf77(const StationFrame& frame, StationBits& bits) {
  int marks = 0;
  const StationSymbol* in = frame.data();
  for (int p = 0; p < 60; ++p) {
    const StationSymbol s = in[p];
    if (s > kMinuteMark) return Dcf77Error::NotSymbol;
    marks += s == kMinuteMark;
    bits[p] = s == kOne;
  }
  if (frame[kMinuteMarkAt] != kMinuteMark) return Dcf77Error::MinuteMark;
  if (marks != 1) return Dcf77Error::StrayMark;
  if (bits[0]) return Dcf77Error::Bit0;
  if (!bits[kTimeStart]) return Dcf77Error::Bit20;
  if (bits[kSummer] == bits[kSummer + 1]) return Dcf77Error::ZoneBits;
  const Dcf77Error parity_errors[] = {Dcf77Error::P1, Dcf77Error::P2, Dcf77Error::P3};
  for (int i = 0; i < 3; ++i)
    if (count_ones(bits, kParities[i].first, kParities[i].parity) % 2 != 0)
      return parity_errors[i];
  const BcdCheck fields = check_bcd_fields(bits, kFields, kFieldCount);
  if (fields == BcdCheck::BadDigit) return Dcf77Error::BadDigit;
  if (fields == BcdCheck::OutOfRange) return Dcf77Error::Range;
  return Dcf77Error::None;
}

bool decode_dcf77(const StationFrame& frame, StationTime& out, const char** reason) {
  StationBits bits{};
  Dcf77Error e = check_dcf77(frame, bits);
  StationTime t;
  if (e == Dcf77Error::None) {
    t.year = 2000 + bcd_value(bits, kFields[kYear]);
    t.month = bcd_value(bits, kFields[kMonth]);
    t.day = bcd_value(bits, kFields[kDay]);
    t.day_of_week = bcd_value(bits, kFields[kWeekday]) % 7;
    const DateCheck date = complete_date(t, DateSent::MonthAndDay, WeekdaySent::Yes);
    if (date == DateCheck::NoSuchDate) e = Dcf77Error::Range;  // 31 April, 29 February 2026...
    else if (date == DateCheck::WrongWeekday) e = Dcf77Error::Weekday;
  }
  if (e != Dcf77Error::None) {
    if (reason) *reason = dcf77_error_text(e);
    return false;
  }
  t.hour = bcd_value(bits, kFields[kHour]);
  t.minute = bcd_value(bits, kFields[kMinute]);
  t.zone = bits[kSummer] ? "CEST" : "CET";
  if (bits[kAnnounce]) add_note(t.notes, "summer time change announced");
  if (bits[kLeapSecond]) add_note(t.notes, "leap second announced");
  if (bits[kCallBit]) add_note(t.notes, "call bit: abnormal transmitter operation");
  out = t;
  return true;
}

// Filled field by field, by name: C++17 has no designated initialisers.
constexpr Station dcf77_row() {
  Station s{};
  s.name = "dcf77";
  s.call_sign = "DCF77";
  s.time_note = "German time (Europe/Berlin) + offset, the NEXT minute";
  s.carrier_hz = 77500.0;
  s.keyed_is_carrier_high = false;
  s.skips_call_sign_minutes = false;
  s.symbols = kDcf77Symbols;
  s.symbol_count = 3;
  s.first_symbol = kZero;
  s.closing_symbol = kMinuteMark;
  s.encode = encode_dcf77;
  s.decode = decode_dcf77;
  s.silent_positions = 1ULL << kMinuteMarkAt;
  s.zone = "Europe/Berlin";
  s.reduced_level = 0.15;  // reduced to 15 %
  return s;
}

}  // namespace

extern const Station kDcf77 = dcf77_row();
