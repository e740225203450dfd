// The ways out of the time code (the serial port, the sound card...), each
// one row of verbs chosen once at start-up: main, the loop and the interrupt
// handler use only these, so a new way out is one file and one row.
#pragma once

#include <cstdint>
#include <string>

#include "stations/station.h"

// A row is filled field by field by name in a constexpr function (C++17
// has no designated initializers); an optional verb left out is null, so a
// verb added later leaves the other rows as they are.
struct CarrierOutput {
  // What the command line calls it: "serial", "audio", "pwm".
  const char* name;
  // Optional. Checks the command-line `argument` before anything is opened;
  // false with `error` ("kolvan: ...") for a malformed one, or for a way out
  // this platform doesn't have: the caller shows it with the usage, status 2.
  bool (*check)(const char* argument, std::string& error);
  // Opens the way out its command-line `argument` names (a port number or
  // device path, a sound device or "" for the default, a PWM channel) for
  // `station`, and says on standard error what was set up where that helps.
  // False when it can't: its "Can not open ..." line and the reason are
  // already on standard error, and the caller ends with status 1.
  bool (*open)(const char* argument, const Station& station);
  // Optional. Tells ahead of time what the second beginning at
  // `host_second` (the host's calendar second) will key, so that an output
  // with latency can lay it out early.
  void (*announce)(std::int64_t host_second, const PulseShape& shape);
  // Keys the current second, called at its start; does nothing while the
  // device is lost.
  void (*send)(const PulseShape& shape);
  // Optional. Called once a second, after that second's pulse has started
  // (or in its place while waiting), never on a pulse's critical path: a
  // lost device is tried again here.
  void (*upkeep)();
  // Stops the output at once, the carrier off; async-signal-safe, safe to
  // call again and before open.
  void (*close)();
  // Optional, for --carrier: holds the carrier at full level with no code
  // for `station`, for at least 50 ms more; called every 20 ms or so until
  // the end. Returns what is sent, for the console's one line. Null where
  // this way out can't.
  const char* (*steady)(const Station& station);
};

// The serial port of carrier/carrier.h: the default, so that everything
// that links only the port's verbs keys the port.
const CarrierOutput& serial_carrier_output();

// Makes `output` the one the verbs below drive and opens it. Called once,
// before the loop starts; the interrupt handler may close it meanwhile.
bool open_carrier_output(const CarrierOutput& output, const char* argument,
                         const Station& station);

void carrier_announce(std::int64_t host_second, const PulseShape& shape);
void carrier_send(const PulseShape& shape);
void carrier_upkeep();
void carrier_close();
