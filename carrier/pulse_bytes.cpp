// The bytes of one second's keying.
#include "carrier/pulse_bytes.h"

#include <cstring>

int fill_pulse_bytes(const PulseShape& shape, unsigned char* buffer, int size) {
  if (shape.keyed < 0 || shape.gap < 0 || shape.keyed_again < 0) return 0;
  const int total = pulse_shape_chars(shape);
  if (total > size) return 0;
  std::memset(buffer, 0, static_cast<size_t>(shape.keyed));
  std::memset(buffer + shape.keyed, 0xFF, static_cast<size_t>(shape.gap));
  std::memset(buffer + shape.keyed + shape.gap, 0, static_cast<size_t>(shape.keyed_again));
  return total;
}
