// Reading the command line: `kolvan COM_PORT [offset_sec]`.
#pragma once

// Converts as atoi does (leading white space, an optional sign, decimal
// digits up to the first non-digit, 0 without digits) but saturates to the
// range of a 32-bit int instead of overflowing.
int parse_int(const char* text);
