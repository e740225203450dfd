// The bits of a minute and the binary-coded decimal fields they carry, and
// the date check: the small helpers that the stations' encoders and decoders
// share, each station keeping its own tables.
#pragma once

#include <array>
#include <string>

#include "stations/station.h"

// One bit a second (0 or 1), indexed by the second of the minute.
using StationBits = std::array<unsigned char, 60>;

// A decimal number sent in BCD: one weight per second from `first` on (80,
// 40, 20, 10, 8, 4, 2, 1 or least significant first, as the station sends
// it); a weight of 0 is a second inside the field that isn't part of it,
// such as a marker. A valid frame's value lies in `low`..`high`.
struct BcdField {
  int first;
  int weights[12];
  int low;
  int high;
};

// Sets the field's seconds to `value`'s digits; the others are left alone.
void put_bcd(StationBits& bits, const BcdField& field, int value);

// True when every decimal digit the field's bits spell is 0-9.
bool bcd_digits_valid(const StationBits& bits, const BcdField& field);

// The sum of the weights of the field's seconds that are 1.
int bcd_value(const StationBits& bits, const BcdField& field);

// How a frame's fields read, every field's digits checked before any
// field's range, so that a bad digit is named as such wherever it stands.
enum class BcdCheck { Valid, BadDigit, OutOfRange };
BcdCheck check_bcd_fields(const StationBits& bits, const BcdField* fields, int count);

// The number of ones in seconds `first` to `last`, both included.
int count_ones(const StationBits& bits, int first, int last);

// Appends a note to a decoded minute's notes, comma-separated; "" adds nothing.
void add_note(std::string& notes, const char* note);

// Which part of the date a frame sends; the decoder has put it in its
// StationTime with the year.
enum class DateSent { DayOfYear, MonthAndDay };
enum class WeekdaySent { No, Yes };

// How a decoded date reads: a day the year doesn't have (31 April, day 366
// of a common year), or a sent day of the week that isn't the date's.
enum class DateCheck { Valid, NoSuchDate, WrongWeekday };

// Fills in the part of `t`'s date that the frame doesn't send and checks
// the rest: the one rule by which every decoder takes a date.
DateCheck complete_date(StationTime& t, DateSent sent, WeekdaySent weekday);
