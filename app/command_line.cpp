// Reading the numbers of the command line.
#include "app/command_line.h"

#include <cctype>
#include <climits>

OffsetText read_offset(const char* text, int& value) {
  const char* at = text;
  while (std::isspace(static_cast<unsigned char>(*at))) ++at;
  const bool negative = *at == '-';
  if (*at == '+' || *at == '-') ++at;
  const char* digits = at;
  long long magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*at)); ++at) {
    magnitude = magnitude * 10 + (*at - '0');
    if (magnitude > -static_cast<long long>(INT_MIN)) return OffsetText::OutOfRange;
  }
  if (!negative && magnitude > INT_MAX) return OffsetText::OutOfRange;
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return at > digits && *at == '\0' ? OffsetText::Number : OffsetText::Partial;
}

int parse_int(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  // Accumulate towards the limit of the sign so that INT_MIN is reachable,
  // and stop growing once the value can only saturate.
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}
