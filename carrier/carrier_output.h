// The way out chosen once at start-up, the serial port or the sound card,
// as a tiny table of verbs that the loop and the interrupt handler call.
#pragma once

#include <cstdint>

#include "timecode/station.h"

struct CarrierOutput {
  // Keys the current second, called at its start.
  void (*send)(const PulseShape& shape);
  // Tells ahead of time what the second beginning at `host_second` (the
  // host's calendar second) will key, so that an output with latency can
  // lay it out early. Null for an output that has no use for it.
  void (*announce)(std::int64_t host_second, const PulseShape& shape);
  // Stops the output at once; async-signal-safe, safe to call again.
  void (*close)();
};

// The serial port of carrier/carrier.h: the default.
const CarrierOutput& serial_carrier_output();

// Called once before the loop and the interrupt handler start.
void use_carrier_output(const CarrierOutput& output);

void carrier_send(const PulseShape& shape);
void carrier_announce(std::int64_t host_second, const PulseShape& shape);
void carrier_close();
