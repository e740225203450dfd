// The command line with options:
//   kolvan [--station=NAME] COM_PORT [offset_sec]
//   kolvan [--station=NAME] --audio[=DEVICE] [offset_sec]
//   kolvan [--station=NAME] --pwm=CHIP:CHANNEL [offset_sec]
//   kolvan --help | --version
// and, before the operands, --time, --minutes, --carrier, --wait-sync, --zone.
// Options come first, in GNU long form, and end at the first argument that
// doesn't begin with "--" (or at "--"). A command line without options is
// read exactly as `Kolvan COM_PORT [offset_sec]` always was.
#pragma once

#include <string>

#include "stations/station.h"

// A time of day on a calendar date, as --time gives it.
struct LocalClockTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct Options {
  const Station* station = nullptr;  // the default station unless --station
  bool audio = false;                // --audio: the sound card instead of a port
  std::string audio_device;          // --audio=DEVICE; empty for the default output
  const char* pwm = nullptr;         // --pwm=CHIP:CHANNEL: a PWM pin instead of a port
  const char* port = nullptr;        // COM_PORT, when neither --audio nor --pwm
  int offset_sec = 0;
  bool any_option = false;           // some argument was an option
  bool has_offset = false;           // offset_sec was given
  bool has_time = false;             // --time: send from this time of the zone sent on
  LocalClockTime time;
  int minutes = 0;                   // --minutes=N: end after N frames; 0 never
  bool carrier_only = false;         // --carrier: the full carrier, no code
  bool wait_sync = false;            // --wait-sync: no carrier until the clock is set
  std::string zone;                  // --zone=NAME; empty for the station's own
  std::string note;                  // a line for standard error before starting, or empty
};

enum class CommandLineResult {
  Run,      // `options` is complete
  Usage,    // wrong count of arguments without options: the usage text, status 0
  Help,     // --help: the help text on standard output, status 0
  Version,  // --version, status 0
  Error,    // `error` says what is wrong: it, then the usage text, status 2
};

CommandLineResult parse_command_line(int argc, char** argv, Options& options, std::string& error);

// The usage text: the one fixed line when no option was given, else the
// full form.
const char* usage_text(bool any_option);

// What --help shows: the program, its command line, the stations with their
// carriers, keying and glyphs.
std::string help_text();
