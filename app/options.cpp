// Reading kolvan's command line, options first; the options both programs
// take are read by cli/command_line.
#include "app/options.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "base/escaped_name.h"
#include "cli/command_line.h"
#include "stations/calendar.h"

namespace {

constexpr const char* kProgram = "kolvan";

// The row that takes the first operand.
const CarrierOutput& operand_row() {
  const CarrierOutput* const* row = kOutputs;
  while ((*row)->argument != OutputArgument::Operand) ++row;
  return **row;
}

int table_index(const CarrierOutput* output) {
  int index = 0;
  while (kOutputs[index] != output) ++index;
  return index;
}

// A way out named by its option: --NAME, or --NAME=ARGUMENT. False when
// `arg` names none; `error` is set for an option that needs its argument.
bool read_output_option(const char* arg, Options& options, const CarrierOutput*& other,
                        std::string& error) {
  for (const CarrierOutput* const* row = kOutputs; *row != nullptr; ++row) {
    const CarrierOutput& output = **row;
    if (output.argument == OutputArgument::Operand) continue;
    const std::size_t length = std::strlen(output.option);
    if (std::strncmp(arg, output.option, length) != 0) continue;
    if (arg[length] != '\0' && arg[length] != '=') continue;
    if (arg[length] == '\0' && output.argument == OutputArgument::Required) {
      error = output.missing;
      return true;
    }
    if (options.output != nullptr && options.output != &output && other == nullptr)
      other = &output;
    // The option alone keeps an argument given before it.
    if (arg[length] == '=') {
      options.output_argument = arg + length + 1;
    } else if (options.output != &output) {
      options.output_argument = "";
    }
    if (options.output == nullptr) options.output = &output;
    return true;
  }
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

// The arguments after the options: the operand's way out and an optional
// offset, or, when an option named the way out, only the offset. A wrong count without
// options is the fixed usage line, status 0 (Program.WrongArgumentCountPrintsUsageAndExitsZero);
// with options, an error a service manager sees.
CommandLineResult take_operands(int count, char** operands, Options& options, std::string& error) {
  const CarrierOutput& operand = operand_row();
  const bool takes_operand = options.output == nullptr;
  const int first_offset = takes_operand ? 1 : 0;
  if (count < first_offset || count > first_offset + 1) {
    if (!options.any_option) return CommandLineResult::Usage;
    error = !takes_operand ? std::string("kolvan: ") + options.output->option + " takes no " +
                                 operand.option + ", only an optional offset_sec"
                           : std::string("kolvan: give ") + operand.option +
                                 " and an optional offset_sec after the options";
    return CommandLineResult::Error;
  }
  if (takes_operand) {
    options.output = &operand;
    options.output_argument = operands[0];
  }
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
  const CarrierOutput* other = nullptr;  // a second way out named
  int i = 1;
  for (; i < argc && starts_with(argv[i], "--"); ++i) {
    const char* arg = argv[i];
    options.any_option = true;
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    switch (read_common_option(kProgram, argc, argv, i, options.station, error)) {
      case CommonOption::Help:
        return CommandLineResult::Help;
      case CommonOption::Version:
        return CommandLineResult::Version;
      case CommonOption::Error:
        return CommandLineResult::Error;
      case CommonOption::Station:
        continue;
      case CommonOption::None:
        break;
    }
    if (read_output_option(arg, options, other, error)) {
      if (!error.empty()) return CommandLineResult::Error;
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
    } else {
      error = unknown_option_error(kProgram, arg);
      return CommandLineResult::Error;
    }
  }
  if (other != nullptr) {
    const bool in_order = table_index(options.output) < table_index(other);
    error = std::string("kolvan: ") + (in_order ? options.output : other)->option + " and " +
            (in_order ? other : options.output)->option + " are two ways out: give one";
    return CommandLineResult::Error;
  }
  const CommandLineResult operands = take_operands(argc - i, argv + i, options, error);
  if (operands != CommandLineResult::Run) return operands;
  if (!check_combination(options, error)) return CommandLineResult::Error;
  return CommandLineResult::Run;
}

OffsetText read_offset(const char* text, int& value) {
  const char* at = text;
  while (std::isspace(static_cast<unsigned char>(*at))) ++at;
  const bool negative = *at == '-';
  if (*at == '+' || *at == '-') ++at;
  const char* digits = at;
  long long magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*at)); ++at) {
    magnitude = magnitude * 10 + (*at - '0');
    if (magnitude > -static_cast<long long>(INT_MIN)) return OffsetText::OutOfRange;
  }
  if (!negative && magnitude > INT_MAX) return OffsetText::OutOfRange;
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return at > digits && *at == '\0' ? OffsetText::Number : OffsetText::Partial;
}

// The fixed line is the first JJY program's, byte for byte; the full form
// has a line for each way out, in the table's order.
const char* usage_text(bool any_option) {
  if (!any_option) return "Usage: Kolvan COM_PORT [offset_sec]\n";
  static const std::string full = [] {
    std::string text;
    for (const CarrierOutput* const* row = kOutputs; *row != nullptr; ++row)
      text += std::string(row == kOutputs ? "Usage: " : "       ") + "kolvan [--station=NAME] " +
              (*row)->usage + " [offset_sec]\n";
    return text +
           "       kolvan --help | --version\n"
           "Other options, also before the operands: --zone=NAME, --minutes=N,\n"
           "  --time=YYYY-MM-DDTHH:MM[:SS], --carrier, --wait-sync\n";
  }();
  return full.c_str();
}
