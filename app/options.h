// kolvan's command line: the forms usage_text() shows, the options first, in
// GNU long form, ending at the first argument that doesn't begin with "--"
// (or at "--"). The ways out come from the table of carrier_output.h. With
// no option at all, `Kolvan COM_PORT [offset_sec]` is read byte for byte as
// the first JJY program read it, and a wrong count of arguments gets its
// one fixed usage line with status 0 (Options.TheUsageLineWithoutOptionsIsTheFixedOne,
// Program.WrongArgumentCountPrintsUsageAndExitsZero).
#pragma once

#include <string>

#include "carrier/carrier_output.h"
#include "stations/station.h"

// A time of day on a calendar date, as --time gives it.
struct LocalClockTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct Options {
  const Station* station = nullptr;  // the default station unless --station
  // The way out: the operand's row unless an option names one, and its
  // argument: the operand, what follows the option's '=', or "" for an
  // option alone.
  const CarrierOutput* output = nullptr;
  const char* output_argument = nullptr;
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

// How an offset argument reads.
enum class OffsetText {
  Number,      // all of it is the number
  Partial,     // the number is what atoi reads before other characters ("30m", "1e9", "xyz": 0)
  OutOfRange,  // its digits go beyond a 32-bit int: no value is used
};

// Reads an offset as atoi does; `value` is set unless it is OutOfRange.
OffsetText read_offset(const char* text, int& value);

// The usage text: the one fixed line when no option was given, else the
// full form, a line for each way out.
const char* usage_text(bool any_option);

// What --help shows: the program, its command line, the ways out and the
// stations with their carriers, keying and glyphs.
std::string help_text();
