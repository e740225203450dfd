// Reading the command line: `kolvan COM_PORT [offset_sec]`.
#pragma once

// Converts as atoi does (leading white space, an optional sign, decimal
// digits up to the first non-digit, 0 without digits) but saturates to the
// range of a 32-bit int instead of overflowing.
int parse_int(const char* text);

// How an offset argument reads.
enum class OffsetText {
  Number,      // all of it is the number
  Partial,     // the number is what atoi reads before other characters ("30m", "1e9", "xyz": 0)
  OutOfRange,  // its digits go beyond a 32-bit int: no value is used
};

// Reads an offset as atoi does; `value` is set unless it is OutOfRange.
OffsetText read_offset(const char* text, int& value);
