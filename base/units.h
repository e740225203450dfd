// The small arithmetic every floor of the house shares: the units of time,
// the division that rounds down (times before 1970 and before a second's
// start are negative counts), and pi. The standard library only, so that
// any file can include it without an arrow running up.
#pragma once

#include <cstdint>

constexpr std::int64_t kSecondMs = 1000;
constexpr std::int64_t kSecondUs = 1000000;
constexpr std::int64_t kSecondNs = 1000000000;

constexpr double kPi = 3.14159265358979323846;

// a / b rounded towards minus infinity (C++ rounds towards zero): -1 ms is
// in second -1, not second 0.
constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
