// JJY (40 kHz Fukushima, 60 kHz Kyushu, the same code) behind the station
// table: the frame of the minute being sent, in the host's local time, with
// the carrier high at the start of each second.
#include "timecode/timecode.h"
#include "timecode/station.h"
#include "timecode/calendar.h"

namespace {

// Indexed by TimeCodeSymbol's values, so a JJY frame is a station frame as it is.
constexpr StationSymbolInfo kJjySymbols[] = {
    {'_', {768, 0, 0}, "0 bit, 0.8 s"},
    {'-', {480, 0, 0}, "1 bit, 0.5 s"},
    {'|', {192, 0, 0}, "position marker, 0.2 s"},
};

constexpr const char* kJjyTime =
    "local time + offset (abroad, --zone=Asia/Tokyo), the minute sent";

bool encode_jjy(std::int64_t minute_start, LocalTimeFn local, StationFrame& out,
                std::string& carries) {
  std::tm t{};
  if (!local(minute_start, t)) return false;
  TimeCodeFrame frame = make_frame();
  encode_frame(frame, t);
  for (int p = 0; p < 60; ++p) out[p] = static_cast<StationSymbol>(frame[p]);
  carries.clear();
  return true;
}

bool decode_jjy(const StationFrame& in, StationTime& out, const char** reason) {
  TimeCodeFrame frame;
  for (int p = 0; p < 60; ++p) {
    if (in[p] > static_cast<StationSymbol>(TimeCodeSymbol::Marker)) {
      if (reason) *reason = "not a JJY symbol";
      return false;
    }
    frame[p] = static_cast<TimeCodeSymbol>(in[p]);
  }
  DecodedMinute m{};
  DecodeError error = DecodeError::None;
  if (!decode_frame(frame, m, &error)) {
    if (reason) *reason = decode_error_text(error);
    return false;
  }
  StationTime t;
  t.year = 2000 + m.year_of_century;
  if (!date_of_day_of_year(t.year, m.day_of_year, t.month, t.day)) {
    if (reason) *reason = decode_error_text(DecodeError::BadDigit);  // day 366 of a common year
    return false;
  }
  t.hour = m.hour;
  t.minute = m.minute;
  t.day_of_week = m.day_of_week;
  t.day_of_year = m.day_of_year;
  out = t;
  return true;
}

}  // namespace

extern const Station kJjy40 = {
    "jjy40", "JJY", kJjyTime, 40000.0, true, true, kJjySymbols, 3, 2, 2, encode_jjy, decode_jjy,
    0, 0, nullptr,
};

extern const Station kJjy60 = {
    "jjy60", "JJY", kJjyTime, 60000.0, true, true, kJjySymbols, 3, 2, 2, encode_jjy, decode_jjy,
    0, 0, nullptr,
};
