// Reading the command line, options first.
#include "app/options.h"

#include <cstring>

#include "app/command_line.h"
#include "carrier/port_name.h"

namespace {

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool set_station(const char* name, Options& options, std::string& error) {
  options.station = find_station(name);
  if (options.station != nullptr) return true;
  error = std::string("kolvan: unknown station '") + name + "' (one of " + station_names() + ")";
  return false;
}

// The offset: a number that doesn't fit the time arithmetic is refused; one
// with other characters after its digits keeps what atoi reads, and says so.
bool take_offset(const char* text, Options& options, std::string& error) {
  switch (read_offset(text, options.offset_sec)) {
    case OffsetText::Number:
      return true;
    case OffsetText::Partial:
      options.note = "kolvan: offset '" + escaped_name(text) + "' read as " +
                     std::to_string(options.offset_sec) + " sec";
      return true;
    case OffsetText::OutOfRange:
      break;
  }
  error = "kolvan: offset '" + escaped_name(text) +
          "' is out of range: give seconds between -2147483648 and 2147483647";
  return false;
}

// The arguments after the options: COM_PORT and an optional offset, or with
// --audio only the offset. A wrong count is the fixed usage line without
// options, as always; with options, an error a service manager sees.
CommandLineResult take_operands(int count, char** operands, Options& options, std::string& error) {
  const int first_offset = options.audio ? 0 : 1;
  if (count < first_offset || count > first_offset + 1) {
    if (!options.any_option) return CommandLineResult::Usage;
    error = options.audio ? "kolvan: --audio takes no COM_PORT, only an optional offset_sec"
                          : "kolvan: give COM_PORT and an optional offset_sec after the options";
    return CommandLineResult::Error;
  }
  if (!options.audio) options.port = operands[0];
  if (count > first_offset && !take_offset(operands[first_offset], options, error))
    return CommandLineResult::Error;
  return CommandLineResult::Run;
}

}  // namespace

CommandLineResult parse_command_line(int argc, char** argv, Options& options, std::string& error) {
  options = Options{};
  options.station = &default_station();
  int i = 1;
  for (; i < argc && starts_with(argv[i], "--"); ++i) {
    const char* arg = argv[i];
    options.any_option = true;
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(arg, "--help") == 0) return CommandLineResult::Help;
    if (std::strcmp(arg, "--version") == 0) return CommandLineResult::Version;
    if (std::strcmp(arg, "--audio") == 0) {
      options.audio = true;
    } else if (starts_with(arg, "--audio=")) {
      options.audio = true;
      options.audio_device = arg + std::strlen("--audio=");
    } else if (starts_with(arg, "--station=")) {
      if (!set_station(arg + std::strlen("--station="), options, error))
        return CommandLineResult::Error;
    } else if (std::strcmp(arg, "--station") == 0) {
      if (i + 1 >= argc) {
        error = "kolvan: option '--station' needs a station name";
        return CommandLineResult::Error;
      }
      if (!set_station(argv[++i], options, error)) return CommandLineResult::Error;
    } else {
      error = std::string("kolvan: unknown option '") + arg + "'";
      return CommandLineResult::Error;
    }
  }
  return take_operands(argc - i, argv + i, options, error);
}

const char* usage_text(bool any_option) {
  if (!any_option) return "Usage: Kolvan COM_PORT [offset_sec]\n";
  return "Usage: kolvan [--station=NAME] COM_PORT [offset_sec]\n"
         "       kolvan [--station=NAME] --audio[=DEVICE] [offset_sec]\n"
         "       kolvan --help | --version\n";
}
