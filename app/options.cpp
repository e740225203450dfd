// Reading the command line, options first.
#include "app/options.h"

#include <cstring>

#include "app/command_line.h"
#include "carrier/port_name.h"
#include "stations/calendar.h"

namespace {

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool set_station(const char* name, Options& options, std::string& error) {
  options.station = find_station(name);
  if (options.station != nullptr) return true;
  error = "kolvan: " + unknown_station_text(name);
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
// --audio or --pwm only the offset. A wrong count is the fixed usage line
// without options, as always; with options, an error a service manager sees.
CommandLineResult take_operands(int count, char** operands, Options& options, std::string& error) {
  const bool takes_port = !options.audio && options.pwm == nullptr;
  const int first_offset = takes_port ? 1 : 0;
  if (count < first_offset || count > first_offset + 1) {
    if (!options.any_option) return CommandLineResult::Usage;
    error = !takes_port ? std::string("kolvan: --") + (options.audio ? "audio" : "pwm") +
                              " takes no COM_PORT, only an optional offset_sec"
                        : "kolvan: give COM_PORT and an optional offset_sec after the options";
    return CommandLineResult::Error;
  }
  if (takes_port) options.port = operands[0];
  if (count > first_offset) {
    if (!take_offset(operands[first_offset], options, error)) return CommandLineResult::Error;
    options.has_offset = true;
  }
  return CommandLineResult::Run;
}

// `width` decimal digits at `text`, then `after` (or the end when '\0').
bool take_digits(const char*& text, int width, char after, int& value) {
  value = 0;
  for (int i = 0; i < width; ++i, ++text) {
    if (*text < '0' || *text > '9') return false;
    value = value * 10 + (*text - '0');
  }
  if (*text != after) return false;
  if (after != '\0') ++text;
  return true;
}

// YYYY-MM-DDTHH:MM[:SS], a real date of the years the stations' two digits
// can carry.
bool parse_time(const char* text, LocalClockTime& t, std::string& error) {
  const char* p = text;
  const char* seconds = std::strlen(text) > 16 ? text + 16 : nullptr;
  const bool shaped = take_digits(p, 4, '-', t.year) && take_digits(p, 2, '-', t.month) &&
                      take_digits(p, 2, 'T', t.day) && take_digits(p, 2, ':', t.hour) &&
                      take_digits(p, 2, seconds ? ':' : '\0', t.minute) &&
                      (!seconds || take_digits(p, 2, '\0', t.second));
  const std::string option = "kolvan: --time=" + escaped_name(text) + ": ";
  if (!shaped) {
    error = option + "not a time of the form YYYY-MM-DDTHH:MM[:SS]";
    return false;
  }
  if (t.year < 2000 || t.year > 2099) {
    error = option + "the stations carry only the years 2000 to 2099";
    return false;
  }
  if (t.month < 1 || t.month > 12 || day_of_year_of_date(t.year, t.month, t.day) == 0 ||
      t.hour > 23 || t.minute > 59 || t.second > 59) {
    error = option + "no such date or time";
    return false;
  }
  return true;
}

// N >= 1, decimal digits only.
bool parse_minutes(const char* text, int& minutes, std::string& error) {
  const char* p = text;
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 6 || !take_digits(p, static_cast<int>(length), '\0', minutes) ||
      minutes < 1) {
    error = "kolvan: --minutes=" + escaped_name(text) + ": not a whole number of minutes, 1 or more";
    return false;
  }
  return true;
}

// The rules between options and operands, once all are read.
bool check_combination(const Options& options, std::string& error) {
  if (options.has_time && options.has_offset) {
    error = "kolvan: --time and offset_sec both set the time sent: give one of them";
    return false;
  }
  if (options.has_time && options.carrier_only) {
    error = "kolvan: --carrier sends no time: --time has nothing to set";
    return false;
  }
  if (options.has_offset && options.carrier_only) {
    error = "kolvan: --carrier sends no time: offset_sec has nothing to shift";
    return false;
  }
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
    } else if (starts_with(arg, "--pwm=")) {
      options.pwm = arg + std::strlen("--pwm=");
    } else if (std::strcmp(arg, "--pwm") == 0) {
      error = "kolvan: option '--pwm' needs CHIP:CHANNEL, e.g. --pwm=pwmchip0:0";
      return CommandLineResult::Error;
    } else if (starts_with(arg, "--station=")) {
      if (!set_station(arg + std::strlen("--station="), options, error))
        return CommandLineResult::Error;
    } else if (starts_with(arg, "--time=")) {
      options.has_time = true;
      if (!parse_time(arg + std::strlen("--time="), options.time, error))
        return CommandLineResult::Error;
    } else if (starts_with(arg, "--minutes=")) {
      if (!parse_minutes(arg + std::strlen("--minutes="), options.minutes, error))
        return CommandLineResult::Error;
    } else if (starts_with(arg, "--zone=") && arg[std::strlen("--zone=")] != '\0') {
      options.zone = arg + std::strlen("--zone=");
    } else if (std::strcmp(arg, "--carrier") == 0) {
      options.carrier_only = true;
    } else if (std::strcmp(arg, "--wait-sync") == 0) {
      options.wait_sync = true;
    } else if (std::strcmp(arg, "--station") == 0) {
      if (i + 1 >= argc) {
        error = "kolvan: option '--station' needs a station name";
        return CommandLineResult::Error;
      }
      if (!set_station(argv[++i], options, error)) return CommandLineResult::Error;
    } else {
      error = "kolvan: unknown option '" + escaped_name(arg) + "'";
      return CommandLineResult::Error;
    }
  }
  if (options.audio && options.pwm != nullptr) {
    error = "kolvan: --audio and --pwm are two ways out: give one";
    return CommandLineResult::Error;
  }
  const CommandLineResult operands = take_operands(argc - i, argv + i, options, error);
  if (operands != CommandLineResult::Run) return operands;
  if (!check_combination(options, error)) return CommandLineResult::Error;
  return CommandLineResult::Run;
}

const char* usage_text(bool any_option) {
  if (!any_option) return "Usage: Kolvan COM_PORT [offset_sec]\n";
  return "Usage: kolvan [--station=NAME] COM_PORT [offset_sec]\n"
         "       kolvan [--station=NAME] --audio[=DEVICE] [offset_sec]\n"
         "       kolvan [--station=NAME] --pwm=CHIP:CHANNEL [offset_sec]\n"
         "       kolvan --help | --version\n"
         "Other options, also before the operands: --zone=NAME, --minutes=N,\n"
         "  --time=YYYY-MM-DDTHH:MM[:SS], --carrier, --wait-sync\n";
}
