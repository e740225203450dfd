// The shared part of both programs' command lines.
#include "cli/command_line.h"

#include <cstdio>
#include <cstring>

#include "base/escaped_name.h"
#include "kolvan_version.h"

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

namespace {

bool take_station(const char* program, const char* name, const Station*& station,
                  std::string& error) {
  const Station* found = find_station(name);
  if (found != nullptr) {
    station = found;
    return true;
  }
  error = std::string(program) + ": " + unknown_station_text(escaped_name(name).c_str());
  return false;
}

}  // namespace

CommonOption read_common_option(const char* program, int argc, char** argv, int& i,
                                const Station*& station, std::string& error) {
  const char* arg = argv[i];
  if (std::strcmp(arg, "--help") == 0) return CommonOption::Help;
  if (std::strcmp(arg, "--version") == 0) return CommonOption::Version;
  const char* name = nullptr;
  if (starts_with(arg, "--station=")) {
    name = arg + std::strlen("--station=");
  } else if (std::strcmp(arg, "--station") == 0) {
    if (i + 1 >= argc) {
      error = std::string(program) + ": option '--station' needs a station name";
      return CommonOption::Error;
    }
    name = argv[++i];
  } else {
    return CommonOption::None;
  }
  return take_station(program, name, station, error) ? CommonOption::Station
                                                     : CommonOption::Error;
}

std::string unknown_option_error(const char* program, const char* option) {
  return std::string(program) + ": unknown option '" + escaped_name(option) + "'";
}

int refuse_command_line(const std::string& error, const char* usage) {
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  std::fputs(usage, stderr);
  return 2;
}

int show_version(const char* program) {
  std::printf("%s %s\n", program, KOLVAN_VERSION);
  return 0;
}
