// MSF (Anthorn, 60 kHz) behind the station table: UK civil time, GMT or BST
// from the host's zone, of the minute that begins as the frame ends. Each
// second carries two bits, A and B, as the carrier is off for 0.1 s steps.
#include <cstdio>

#include "stations/station.h"
#include "stations/station_bits.h"

namespace {

// After the marker, 1 + A + 2 B.
enum MsfSymbol : StationSymbol { kMarker, kA0B0, kA1B0, kA0B1, kA1B1 };

constexpr StationSymbolInfo kMsfSymbols[] = {
    {'|', {480, 0, 0}, "minute marker, 0.5 s off"},
    {'_', {96, 0, 0}, "A=0 B=0, 0.1 s off"},
    {'-', {192, 0, 0}, "A=1 B=0, 0.2 s off"},
    {'.', {96, 96, 96}, "A=0 B=1, off, on, off 0.1 s each"},
    {'=', {288, 0, 0}, "A=1 B=1, 0.3 s off"},
};

enum FieldIndex { kYear, kMonth, kDay, kWeekday, kHour, kMinute, kFieldCount };

// In the A bits, most significant first.
constexpr BcdField kFields[kFieldCount] = {
    {17, {80, 40, 20, 10, 8, 4, 2, 1}, 0, 99},
    {25, {10, 8, 4, 2, 1}, 1, 12},
    {30, {20, 10, 8, 4, 2, 1}, 1, 31},
    {36, {4, 2, 1}, 0, 6},  // Sunday = 0
    {39, {20, 10, 8, 4, 2, 1}, 0, 23},
    {45, {40, 20, 10, 8, 4, 2, 1}, 0, 59},
};

// Odd parity: the ones in A first..last and the parity bit B are odd.
struct Parity { int first; int last; int parity; };
constexpr Parity kParities[] = {{17, 24, 54}, {25, 35, 55}, {36, 38, 56}, {39, 51, 57}};

constexpr int kIdentifierFirst = 52;  // A52-A59: 0, 1 x 6, 0
constexpr int kAnnounce = 53;         // B53: summer-time change within the next 61 minutes
constexpr int kSummer = 58;           // B58: BST in effect

// Why a frame was refused, in the order the checks are made.
enum class MsfError { None, NotSymbol, Marker, StrayMarker, Identifier, AlwaysZero, Dut1,
                      YearParity, DateParity, WeekdayParity, TimeParity, BadDigit, Range,
                      Weekday };

const char* msf_error_text(MsfError e) {
  switch (e) {
    case MsfError::None: return "no error";
    case MsfError::NotSymbol: return "not an MSF symbol";
    case MsfError::Marker: return "missing minute marker";
    case MsfError::StrayMarker: return "minute marker in a data position";
    case MsfError::Identifier: return "minute identifier A52-A59 is not 01111110";
    case MsfError::AlwaysZero: return "always-zero bit is 1";
    case MsfError::Dut1: return "DUT1 both positive and negative";
    case MsfError::YearParity: return "year parity B54 mismatch";
    case MsfError::DateParity: return "date parity B55 mismatch";
    case MsfError::WeekdayParity: return "day-of-week parity B56 mismatch";
    case MsfError::TimeParity: return "time parity B57 mismatch";
    case MsfError::BadDigit: return "bad BCD digit";
    case MsfError::Range: return "field out of range";
    case MsfError::Weekday: return "day of week disagrees with the date";
  }
  return "unknown error";
}

bool encode_msf(std::int64_t minute_start, LocalTimeFn local, ZoneTimeFn, StationFrame& frame,
                std::string& carries) {
  std::tm sent{}, carried{}, later{};
  if (!local(minute_start, sent) || !local(minute_start + 60, carried) ||
      !local(minute_start + 61 * 60, later))
    return false;
  StationBits a{}, b{};
  const int values[kFieldCount] = {carried.tm_year % 100, carried.tm_mon + 1, carried.tm_mday,
                                   carried.tm_wday,       carried.tm_hour,    carried.tm_min};
  for (int i = 0; i < kFieldCount; ++i) put_bcd(a, kFields[i], values[i]);
  for (int p = kIdentifierFirst + 1; p <= 58; ++p) a[p] = 1;
  for (const Parity& p : kParities) b[p.parity] = count_ones(a, p.first, p.last) % 2 == 0;
  // B53 goes out in the 61 minutes before a change: in every frame sent less
  // than 61 minutes before it, down to the one that carries its first minute.
  b[kAnnounce] = (sent.tm_isdst > 0) != (later.tm_isdst > 0);
  b[kSummer] = carried.tm_isdst > 0;
  StationSymbol* out = frame.data();
  for (int p = 0; p < 60; ++p) out[p] = static_cast<StationSymbol>(kA0B0 + a[p] + 2 * b[p]);
  frame[0] = kMarker;
  char text[24];
  std::snprintf(text, sizeof text, "= %02d:%02d %s", carried.tm_hour, carried.tm_min,
                b[kSummer] ? "BST" : "GMT");
  carries = text;
  return true;
}

// The first check a frame fails, or None; `a` and `b` get its bits.
MsfError check_msf(const StationFrame& frame, StationBits& a, StationBits& b) {
  int markers = 0;
  const StationSymbol* in = frame.data();
  for (int p = 0; p < 60; ++p) {
    const StationSymbol s = in[p];
    if (s > kA1B1) return MsfError::NotSymbol;
    markers += s == kMarker;
    const int bits = s == kMarker ? 0 : s - kA0B0;
    a[p] = bits & 1;
    b[p] = bits >> 1;
  }
  if (frame[0] != kMarker) return MsfError::Marker;
  if (markers != 1) return MsfError::StrayMarker;
  for (int p = kIdentifierFirst; p < 60; ++p)
    if (a[p] != (p != kIdentifierFirst && p != 59)) return MsfError::Identifier;
  if (count_ones(a, 1, 16) + count_ones(b, 17, 52) + b[59] != 0) return MsfError::AlwaysZero;
  if (count_ones(b, 1, 8) != 0 && count_ones(b, 9, 16) != 0) return MsfError::Dut1;
  const MsfError parity_errors[] = {MsfError::YearParity, MsfError::DateParity,
                                    MsfError::WeekdayParity, MsfError::TimeParity};
  for (int i = 0; i < 4; ++i)
    if ((count_ones(a, kParities[i].first, kParities[i].last) + b[kParities[i].parity]) % 2 != 1)
      return parity_errors[i];
  const BcdCheck fields = check_bcd_fields(a, kFields, kFieldCount);
  if (fields == BcdCheck::BadDigit) return MsfError::BadDigit;
  if (fields == BcdCheck::OutOfRange) return MsfError::Range;
  return MsfError::None;
}

bool decode_msf(const StationFrame& frame, StationTime& out, const char** reason) {
  StationBits a{}, b{};
  MsfError e = check_msf(frame, a, b);
  StationTime t;
  if (e == MsfError::None) {
    t.year = 2000 + bcd_value(a, kFields[kYear]);
    t.month = bcd_value(a, kFields[kMonth]);
    t.day = bcd_value(a, kFields[kDay]);
    t.day_of_week = bcd_value(a, kFields[kWeekday]);
    const DateCheck date = complete_date(t, DateSent::MonthAndDay, WeekdaySent::Yes);
    if (date == DateCheck::NoSuchDate) e = MsfError::Range;  // 31 April, 29 February 2026...
    else if (date == DateCheck::WrongWeekday) e = MsfError::Weekday;
  }
  if (e != MsfError::None) {
    if (reason) *reason = msf_error_text(e);
    return false;
  }
  t.hour = bcd_value(a, kFields[kHour]);
  t.minute = bcd_value(a, kFields[kMinute]);
  t.zone = b[kSummer] ? "BST" : "GMT";
  if (b[kAnnounce]) add_note(t.notes, "summer time change announced");
  out = t;
  return true;
}

// Filled field by field, by name: C++17 has no designated initialisers.
constexpr Station msf_row() {
  Station s{};
  s.name = "msf";
  s.call_sign = "MSF";
  s.time_note = "UK time (Europe/London) + offset, the NEXT minute";
  s.carrier_hz = 60000.0;
  s.keyed_is_carrier_high = false;
  s.skips_call_sign_minutes = false;
  s.symbols = kMsfSymbols;
  s.symbol_count = 5;
  s.first_symbol = kMarker;
  s.closing_symbol = kA0B0;
  s.encode = encode_msf;
  s.decode = decode_msf;
  s.zone = "Europe/London";
  s.reduced_level = 0.0;  // off
  return s;
}

}  // namespace

extern const Station kMsf = msf_row();
