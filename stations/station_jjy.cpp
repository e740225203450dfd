// JJY (40 kHz Fukushima, 60 kHz Kyushu, the same code) behind the station
// table: the frame of the minute being sent, in the host's local time, with
// the carrier high at the start of each second.
#include "stations/station.h"
#include "stations/station_bits.h"

namespace {

enum JjySymbol : StationSymbol { kZero, kOne, kMarker };

constexpr StationSymbolInfo kJjySymbols[] = {
    {'_', {768, 0, 0}, "0 bit, 0.8 s"},
    {'-', {480, 0, 0}, "1 bit, 0.5 s"},
    {'|', {192, 0, 0}, "position marker, 0.2 s"},
};

constexpr const char* kJjyTime =
    "local time + offset (abroad, --zone=Asia/Tokyo), the minute sent";

enum FieldIndex { kMinute, kHour, kDayOfYear, kYear, kWeekday, kFieldCount };

// Most significant bit first; the minute, hour and day of year weigh as WWVB's.
constexpr BcdField kFields[kFieldCount] = {
    {1, {40, 20, 10, 0, 8, 4, 2, 1}, 0, 59},
    {12, {20, 10, 0, 8, 4, 2, 1}, 0, 23},
    {22, {200, 100, 0, 80, 40, 20, 10, 0, 8, 4, 2, 1}, 1, 366},  // 29 is a marker
    {41, {80, 40, 20, 10, 8, 4, 2, 1}, 0, 99},
    {50, {4, 2, 1}, 0, 6},  // Sunday = 0
};

constexpr int kHourParity = 36;    // PA1: even parity over 12-18 and itself
constexpr int kMinuteParity = 37;  // PA2: even parity over 1-8 and itself

constexpr int kMarkers[] = {0, 9, 19, 29, 39, 49, 59};
// Always 0: unused, the spare bits SU1 (38) and SU2 (40), and the
// leap-second warning (53, 54).
constexpr int kAlwaysZero[] = {4, 10, 11, 14, 20, 21, 24, 34, 35, 38, 40, 53, 54, 55, 56, 57, 58};

// Why a frame was refused, in the order the checks are made.
enum class JjyError { None, NotSymbol, Marker, StrayMarker, AlwaysZero, HourParity, MinuteParity,
                      Range, Weekday };

const char* jjy_error_text(JjyError e) {
  switch (e) {
    case JjyError::None: return "no error";
    case JjyError::NotSymbol: return "not a JJY symbol";
    case JjyError::Marker: return "missing position marker";
    case JjyError::StrayMarker: return "marker in a data position";
    case JjyError::AlwaysZero: return "one in an always-zero position";
    case JjyError::HourParity: return "hour parity (PA1) mismatch";
    case JjyError::MinuteParity: return "minute parity (PA2) mismatch";
    case JjyError::Range: return "field out of range";
    case JjyError::Weekday: return "day of week disagrees with the date";
  }
  return "unknown error";
}

bool encode_jjy(std::int64_t minute_start, LocalTimeFn local, ZoneTimeFn, StationFrame& frame,
                std::string& carries) {
  std::tm t{};
  if (!local(minute_start, t)) return false;
  StationBits bits{};
  const int values[kFieldCount] = {t.tm_min, t.tm_hour, t.tm_yday + 1, t.tm_year % 100, t.tm_wday};
  for (int i = 0; i < kFieldCount; ++i) put_bcd(bits, kFields[i], values[i]);
  bits[kHourParity] = count_ones(bits, 12, 18) % 2;
  bits[kMinuteParity] = count_ones(bits, 1, 8) % 2;
  StationSymbol* out = frame.data();
  for (int p = 0; p < 60; ++p) out[p] = bits[p] ? kOne : kZero;
  for (int p : kMarkers) frame[p] = kMarker;
  carries.clear();
  return true;
}

// The first check a frame fails, or None; `bits` gets its data bits.
JjyError check_jjy(const StationFrame& frame, StationBits& bits) {
  int markers = 0;
  const StationSymbol* in = frame.data();
  for (int p = 0; p < 60; ++p) {
    const StationSymbol s = in[p];
    if (s > kMarker) return JjyError::NotSymbol;
    markers += s == kMarker;
    bits[p] = s == kOne;
  }
  for (int p : kMarkers)
    if (frame[p] != kMarker) return JjyError::Marker;
  if (markers != static_cast<int>(sizeof kMarkers / sizeof kMarkers[0]))
    return JjyError::StrayMarker;
  for (int p : kAlwaysZero)
    if (bits[p]) return JjyError::AlwaysZero;
  if (count_ones(bits, 12, 18) % 2 != bits[kHourParity]) return JjyError::HourParity;
  if (count_ones(bits, 1, 8) % 2 != bits[kMinuteParity]) return JjyError::MinuteParity;
  // A digit past 9 and a field past its range read alike to the receiver.
  if (check_bcd_fields(bits, kFields, kFieldCount) != BcdCheck::Valid) return JjyError::Range;
  return JjyError::None;
}

bool decode_jjy(const StationFrame& frame, StationTime& out, const char** reason) {
  StationBits bits{};
  JjyError e = check_jjy(frame, bits);
  StationTime t;
  if (e == JjyError::None) {
    t.year = 2000 + bcd_value(bits, kFields[kYear]);
    t.day_of_year = bcd_value(bits, kFields[kDayOfYear]);
    t.day_of_week = bcd_value(bits, kFields[kWeekday]);
    const DateCheck date = complete_date(t, DateSent::DayOfYear, WeekdaySent::Yes);
    if (date == DateCheck::NoSuchDate) e = JjyError::Range;  // day 366 of a common year
    else if (date == DateCheck::WrongWeekday) e = JjyError::Weekday;
  }
  if (e != JjyError::None) {
    if (reason) *reason = jjy_error_text(e);
    return false;
  }
  t.hour = bcd_value(bits, kFields[kHour]);
  t.minute = bcd_value(bits, kFields[kMinute]);
  out = t;
  return true;
}

// Filled field by field, by name: C++17 has no designated initialisers.
constexpr Station jjy_row(const char* name, double carrier_hz) {
  Station s{};
  s.name = name;
  s.call_sign = "JJY";
  s.time_note = kJjyTime;
  s.carrier_hz = carrier_hz;
  s.keyed_is_carrier_high = true;
  s.skips_call_sign_minutes = true;
  s.symbols = kJjySymbols;
  s.symbol_count = 3;
  s.first_symbol = kMarker;
  s.closing_symbol = kMarker;
  s.encode = encode_jjy;
  s.decode = decode_jjy;
  s.reduced_level = 0.10;  // low: 10 %
  return s;
}

}  // namespace

extern const Station kJjy40 = jjy_row("jjy40", 40000.0);
extern const Station kJjy60 = jjy_row("jjy60", 60000.0);
