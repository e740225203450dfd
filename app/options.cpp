// Reading the command line, options first.
#include "app/options.h"

#include <cstring>

#include "app/command_line.h"

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

// The arguments after the options: COM_PORT and an optional offset, or with
// --audio only the offset.
bool take_operands(int count, char** operands, Options& options) {
  const int first_offset = options.audio ? 0 : 1;
  if (count < first_offset || count > first_offset + 1) return false;
  if (!options.audio) options.port = operands[0];
  if (count > first_offset) options.offset_sec = parse_int(operands[first_offset]);
  return true;
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
  if (!take_operands(argc - i, argv + i, options)) return CommandLineResult::Usage;
  return CommandLineResult::Run;
}

const char* usage_text(bool any_option) {
  if (!any_option) return "Usage: Kolvan COM_PORT [offset_sec]\n";
  return "Usage: kolvan [--station=NAME] COM_PORT [offset_sec]\n"
         "       kolvan [--station=NAME] --audio[=DEVICE] [offset_sec]\n"
         "       kolvan --help | --version\n";
}
