// What both programs' command lines share (kolvan's in app/options.cpp,
// kolvan-monitor's in monitor/main.cpp): the options they both take
// (--station, --help, --version), the line an unknown option gets, and how
// a refused command line ends, so that both answer the same way.
#pragma once

#include <string>

#include "stations/station.h"

// Whether `text` begins with `prefix`.
bool starts_with(const char* text, const char* prefix);

// What one of the options both programs take asks for.
enum class CommonOption {
  None,     // not one of them: the program reads it itself
  Station,  // --station=NAME or --station NAME: `station` is set
  Help,     // --help
  Version,  // --version
  Error,    // `error` ("PROGRAM: ...") says what is wrong
};

// Reads argv[i] as one of the shared options; --station NAME takes the next
// argument too, and leaves `i` on it. `program` starts the error lines,
// which show an unknown station's name escaped.
CommonOption read_common_option(const char* program, int argc, char** argv, int& i,
                                const Station*& station, std::string& error);

// "PROGRAM: unknown option 'OPTION'", the option escaped as every name a
// message shows.
std::string unknown_option_error(const char* program, const char* option);

// A refused command line: `error` (when not empty) and the usage text on
// standard error. Returns the status it ends with, 2.
int refuse_command_line(const std::string& error, const char* usage);

// --version: "PROGRAM VERSION" on standard output. Returns the status, 0.
int show_version(const char* program);
