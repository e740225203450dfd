// The JJY time code of one minute: the layout of the sixty positions, the
// encoder that fills a frame from a broken-down time, the decoder that checks
// a frame and reads it back, and the glyphs the console shows for symbols.
#include "timecode/timecode.h"

#include <cstddef>
#include <iterator>

namespace {

// One BCD digit (or the day of week) on the line: `width` positions from
// `first`, most significant bit first.
struct Digit {
  int first;
  int width;
  int max;  // highest value the digit may take in a valid frame
};

enum DigitIndex { MinTens, MinUnits, HourTens, HourUnits, DayHundreds, DayTens, DayUnits,
                  YearTens, YearUnits, Weekday, DigitCount };

// In the order they are written; the hour and day of year are further bounded
// as wholes (0-23, 1-366) when a frame is decoded.
constexpr Digit kDigits[DigitCount] = {
    {1, 3, 5},  {5, 4, 9},               // minute: tens, units
    {12, 2, 2}, {15, 4, 9},              // hour: tens, units
    {22, 2, 3}, {25, 4, 9}, {30, 4, 9},  // day of year, 1-based: hundreds, tens, units
    {41, 4, 9}, {45, 4, 9},              // year of century: tens, units
    {50, 3, 6},                          // day of week, 0 = Sunday
};

constexpr int kHourParity = 36;    // PA1: even parity over positions 12-18 and itself
constexpr int kMinuteParity = 37;  // PA2: even parity over positions 1-8 and itself

constexpr int kMarkers[] = {0, 9, 19, 29, 39, 49, 59};
// Always Zero: unused, the spare bits SU1 (38) and SU2 (40), and the
// leap-second warning (53, 54).
constexpr int kReserved[] = {4, 10, 11, 14, 20, 21, 24, 34, 35, 38, 40, 53, 54, 55, 56, 57, 58};

TimeCodeSymbol bit(bool set) { return set ? TimeCodeSymbol::One : TimeCodeSymbol::Zero; }

void put_digit(TimeCodeFrame& frame, const Digit& d, int value) {
  for (int i = 0; i < d.width; ++i) frame[d.first + i] = bit((value >> (d.width - 1 - i)) & 1);
}

int get_digit(const TimeCodeFrame& frame, const Digit& d) {
  int value = 0;
  for (int i = 0; i < d.width; ++i) value = value * 2 + (frame[d.first + i] == TimeCodeSymbol::One);
  return value;
}

int count_ones(const TimeCodeFrame& frame, int first, int last) {
  int n = 0;
  for (int p = first; p <= last; ++p) n += frame[p] == TimeCodeSymbol::One;
  return n;
}

// The first check a frame fails, or None.
DecodeError check_frame(const TimeCodeFrame& frame) {
  for (int m : kMarkers)
    if (frame[m] != TimeCodeSymbol::Marker) return DecodeError::Marker;
  int markers = 0;
  for (TimeCodeSymbol s : frame) markers += s == TimeCodeSymbol::Marker;
  if (markers != static_cast<int>(std::size(kMarkers))) return DecodeError::StrayMarker;
  for (int p : kReserved)
    if (frame[p] != TimeCodeSymbol::Zero) return DecodeError::ReservedBit;
  if (count_ones(frame, 12, 18) % 2 != (frame[kHourParity] == TimeCodeSymbol::One))
    return DecodeError::HourParity;
  if (count_ones(frame, 1, 8) % 2 != (frame[kMinuteParity] == TimeCodeSymbol::One))
    return DecodeError::MinuteParity;
  for (const Digit& d : kDigits)
    if (get_digit(frame, d) > d.max) return DecodeError::BadDigit;
  return DecodeError::None;
}

DecodedMinute read_fields(const TimeCodeFrame& frame) {
  int v[DigitCount];
  for (int i = 0; i < DigitCount; ++i) v[i] = get_digit(frame, kDigits[i]);
  return {v[MinTens] * 10 + v[MinUnits], v[HourTens] * 10 + v[HourUnits],
          v[DayHundreds] * 100 + v[DayTens] * 10 + v[DayUnits], v[YearTens] * 10 + v[YearUnits],
          v[Weekday]};
}

}  // namespace

TimeCodeFrame make_frame() {
  TimeCodeFrame frame;
  frame.fill(TimeCodeSymbol::Zero);
  for (int m : kMarkers) frame[m] = TimeCodeSymbol::Marker;
  return frame;
}

void encode_frame(TimeCodeFrame& frame, const SimulatedTime& t) {
  const int day = t.tm_yday + 1;
  const int year = t.tm_year % 100;
  const int values[DigitCount] = {
      t.tm_min / 10,  t.tm_min % 10,  t.tm_hour / 10, t.tm_hour % 10,
      day / 100,      day / 10 % 10,  day % 10,       year / 10,
      year % 10,      t.tm_wday,
  };
  for (int i = 0; i < DigitCount; ++i) put_digit(frame, kDigits[i], values[i]);
  // Counted over this minute's bits, now that they are all in place.
  frame[kHourParity] = bit(count_ones(frame, 12, 18) % 2 == 1);
  frame[kMinuteParity] = bit(count_ones(frame, 1, 8) % 2 == 1);
}

bool decode_frame(const TimeCodeFrame& frame, DecodedMinute& out, DecodeError* error) {
  DecodeError e = check_frame(frame);
  DecodedMinute m{};
  if (e == DecodeError::None) {
    m = read_fields(frame);
    if (m.hour > 23 || m.day_of_year < 1 || m.day_of_year > 366) e = DecodeError::BadDigit;
  }
  if (error) *error = e;
  if (e != DecodeError::None) return false;
  out = m;
  return true;
}

const char* decode_error_text(DecodeError error) {
  switch (error) {
    case DecodeError::None: return "no error";
    case DecodeError::Marker: return "missing position marker";
    case DecodeError::StrayMarker: return "marker in a data position";
    case DecodeError::ReservedBit: return "one in an always-zero position";
    case DecodeError::HourParity: return "hour parity (PA1) mismatch";
    case DecodeError::MinuteParity: return "minute parity (PA2) mismatch";
    case DecodeError::BadDigit: return "field out of range";
  }
  return "unknown error";
}

char symbol_glyph(TimeCodeSymbol symbol) {
  switch (symbol) {
    case TimeCodeSymbol::Zero: return '_';
    case TimeCodeSymbol::One: return '-';
    case TimeCodeSymbol::Marker: return '|';
  }
  return '?';
}

std::string frame_glyphs(const TimeCodeFrame& frame) {
  std::string glyphs;
  glyphs.reserve(frame.size());
  for (TimeCodeSymbol s : frame) glyphs += symbol_glyph(s);
  return glyphs;
}

bool parse_frame_glyphs(const std::string& glyphs, TimeCodeFrame& frame) {
  TimeCodeFrame parsed;
  if (glyphs.size() != parsed.size()) return false;
  for (std::size_t p = 0; p < parsed.size(); ++p) {
    const char c = glyphs[p];
    if (c == '_') parsed[p] = TimeCodeSymbol::Zero;
    else if (c == '-') parsed[p] = TimeCodeSymbol::One;
    else if (c == '|') parsed[p] = TimeCodeSymbol::Marker;
    else return false;
  }
  frame = parsed;
  return true;
}
