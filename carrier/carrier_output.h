// The ways out of the time code (the serial port, the sound card, the PWM
// pin), each one row of the table kOutputs: its option, how it takes its
// argument, its lines of --help and its verbs. The command line, --help,
// main, the loop and the interrupt handler use only the table and these
// verbs, so a new way out is its own file(s), one row in
// carrier/outputs.cpp and its CMake line.
#pragma once

#include <cstdint>
#include <string>

#include "stations/station.h"

// How a way out takes its argument on the command line.
enum class OutputArgument {
  Operand,   // the first operand after the options (COM_PORT): the way out
             // when no option names another
  Optional,  // --NAME or --NAME=ARGUMENT; "" without one
  Required,  // --NAME=ARGUMENT; --NAME alone is refused with `missing`
};

// A row is filled field by field by name in a constexpr function (C++17
// has no designated initializers); an optional verb left out is null, so a
// verb added later leaves the other rows as they are.
struct CarrierOutput {
  // What messages call it: "serial", "audio", "pwm".
  const char* name;
  // The command line's word for it: the operand's name ("COM_PORT") or the
  // option ("--audio"), as the errors about it say it.
  const char* option;
  OutputArgument argument;
  // Its form on the usage lines: "COM_PORT", "--audio[=DEVICE]".
  const char* usage;
  // Required: the error line for the option without its argument
  // ("kolvan: option '--pwm' needs ...").
  const char* missing;
  // Its lines in --help's list, each ending in a line end: an operand's
  // before offset_sec, an option's after --station.
  const char* help;
  // Its words in --help's opening paragraph, which the rows' words make in
  // the table's order: each piece carries its own line ends, so the
  // paragraph reads as one.
  const char* about;
  // What it does while --wait-sync waits and nothing is open, as words of
  // --help's line for that option ("--audio plays nothing").
  const char* waiting;
  // Optional. When the argument asks a question rather than naming a device
  // (--pwm=list), answers it on standard output and returns true: main then
  // ends with status 0 before anything is checked or opened. False when the
  // argument names a device.
  bool (*query)(const char* argument);
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
  // call again, before open, and from a signal handler that interrupts open
  // (undoing what open has done so far: a channel it exported).
  void (*close)();
  // Optional, for --carrier: holds the carrier at full level with no code
  // for `station`, for at least 50 ms more; called every 20 ms or so until
  // the end. Returns what is sent, for the console's one line. Null where
  // this way out can't.
  const char* (*steady)(const Station& station);
};

// The ways out in the order --help and the usage lines show them, ending
// with a null; exactly one row takes the Operand.
extern const CarrierOutput* const kOutputs[];

// Makes `output` the one the verbs below drive and opens it. Called once,
// before the loop starts; the interrupt handler may close it meanwhile.
bool open_carrier_output(const CarrierOutput& output, const char* argument,
                         const Station& station);

void carrier_announce(std::int64_t host_second, const PulseShape& shape);
void carrier_send(const PulseShape& shape);
void carrier_upkeep();
void carrier_close();
