// The JJY time code of one minute: sixty symbols, one per second, each sent
// as one pulse at the start of its second. Encoding, decoding and the glyphs
// the console shows for them.
#pragma once

#include <array>
#include <ctime>
#include <string>

enum class TimeCodeSymbol : unsigned char { Zero = 0, One = 1, Marker = 2 };

// Indexed by the second of the minute; position 0 goes out at the top of it.
using TimeCodeFrame = std::array<TimeCodeSymbol, 60>;

// A broken-down local time, as the host's local-time conversion gives it.
using SimulatedTime = std::tm;

// All Zero, with the seven position markers at 0, 9, 19, 29, 39, 49 and 59.
TimeCodeFrame make_frame();

// Writes every data position of `frame` for the minute of `t`; the markers
// are left as they are. Allocates nothing.
void encode_frame(TimeCodeFrame& frame, const SimulatedTime& t);

// The console glyph of one symbol: '_' Zero, '-' One, '|' Marker.
char symbol_glyph(TimeCodeSymbol symbol);

// The sixty glyphs of a frame, position 0 first.
std::string frame_glyphs(const TimeCodeFrame& frame);

// Reads a frame back from its sixty glyphs; false, with `frame` untouched,
// unless the text is exactly sixty of '_', '-' and '|'.
bool parse_frame_glyphs(const std::string& glyphs, TimeCodeFrame& frame);

// The fields carried by one frame, as sent: day of year 1-366, year 0-99,
// day of week 0 (Sunday) to 6.
struct DecodedMinute {
  int minute;
  int hour;
  int day_of_year;
  int year_of_century;
  int day_of_week;
};

// Why a frame was rejected, in the order the checks are made.
enum class DecodeError {
  None,
  Marker,        // a position marker is missing
  StrayMarker,   // a marker stands in a data or reserved position
  ReservedBit,   // a position that is always Zero holds One
  HourParity,    // PA1 disagrees with the hour bits
  MinuteParity,  // PA2 disagrees with the minute bits
  BadDigit,      // a BCD digit or a field is out of its range
};

// Checks a frame as it came off the line and, when it holds, fills `out`.
// On failure `out` is left as it was and `*error` (when given) says why.
bool decode_frame(const TimeCodeFrame& frame, DecodedMinute& out, DecodeError* error = nullptr);

// A short human reason for a decode failure, e.g. "missing position marker".
const char* decode_error_text(DecodeError error);
