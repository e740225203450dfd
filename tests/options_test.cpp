// The command line with options: each rule, and that a command line without
// options reads as `Kolvan COM_PORT [offset_sec]`: the port, an optional
// offset, JJY, and the one usage line for a wrong count.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/simulated_time.h"
#include "carrier/port_name.h"

namespace {

struct Case {
  std::vector<const char*> args;  // after the program name
  CommandLineResult result;
  const char* station;            // expected station name, when Run
  const char* port;               // expected COM_PORT, null with --audio
  int offset;
  bool audio;
  const char* device;
};

CommandLineResult parse(const std::vector<const char*>& args, Options& options, std::string& error) {
  std::vector<char*> argv{const_cast<char*>("kolvan")};
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  return parse_command_line(static_cast<int>(argv.size()) - 1, argv.data(), options, error);
}

const Case kCases[] = {
    // Without options: COM_PORT [offset_sec] and JJY; a wrong count is Usage.
    {{}, CommandLineResult::Usage, nullptr, nullptr, 0, false, ""},
    {{"3"}, CommandLineResult::Run, "jjy40", "3", 0, false, ""},
    {{"3", "-30"}, CommandLineResult::Run, "jjy40", "3", -30, false, ""},
    {{"3", "xyz"}, CommandLineResult::Run, "jjy40", "3", 0, false, ""},
    {{"3", "--station=wwvb"}, CommandLineResult::Run, "jjy40", "3", 0, false, ""},
    {{"-5", "7"}, CommandLineResult::Run, "jjy40", "-5", 7, false, ""},
    {{"3", "4", "5"}, CommandLineResult::Usage, nullptr, nullptr, 0, false, ""},
    // Options first, in both GNU forms, ending at "--" or the first operand.
    {{"--station=jjy60", "/dev/pts/3", "12"}, CommandLineResult::Run, "jjy60", "/dev/pts/3", 12, false, ""},
    {{"--station", "jjy", "3"}, CommandLineResult::Run, "jjy40", "3", 0, false, ""},
    {{"--", "--3"}, CommandLineResult::Run, "jjy40", "--3", 0, false, ""},
    // With options, a wrong count of operands is an error a service manager sees.
    {{"--station=jjy60"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    {{"--station=jjy60", "3", "4", "5"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    // The sound card takes no port: only the offset follows.
    {{"--audio"}, CommandLineResult::Run, "jjy40", nullptr, 0, true, ""},
    {{"--audio=hw:1", "-60"}, CommandLineResult::Run, "jjy40", nullptr, -60, true, "hw:1"},
    {{"--audio=hw:1", "--audio"}, CommandLineResult::Run, "jjy40", nullptr, 0, true, "hw:1"},
    {{"--audio", "/dev/ttyUSB0", "0"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    // A PWM pin likewise; one way out at a time.
    {{"--pwm=pwmchip0:0", "-60"}, CommandLineResult::Run, "jjy40", nullptr, -60, false, "pwmchip0:0"},
    {{"--pwm=pwmchip0:0", "3", "4"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    {{"--pwm", "3"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    {{"--audio", "--pwm=pwmchip0:0"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    // An offset beyond a 32-bit int is refused; one with trailing characters keeps atoi's value.
    {{"3", "-99999999999"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    {{"3", "30m"}, CommandLineResult::Run, "jjy40", "3", 30, false, ""},
    {{"--help", "--bogus"}, CommandLineResult::Help, nullptr, nullptr, 0, false, ""},
    {{"--version"}, CommandLineResult::Version, nullptr, nullptr, 0, false, ""},
    {{"--bogus", "3"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    {{"--station=loran", "3"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    {{"--station"}, CommandLineResult::Error, nullptr, nullptr, 0, false, ""},
    {{"3", "--help"}, CommandLineResult::Run, "jjy40", "3", 0, false, ""},
};

TEST(Options, EachRuleOfTheCommandLine) {
  for (const Case& c : kCases) {
    std::string label;
    for (const char* a : c.args) label += std::string(a) + " ";
    SCOPED_TRACE(label);
    Options options;
    std::string error;
    ASSERT_EQ(parse(c.args, options, error), c.result);
    EXPECT_EQ(error.empty(), c.result != CommandLineResult::Error);
    if (c.result != CommandLineResult::Run) continue;
    EXPECT_STREQ(options.station->name, c.station);
    const std::string way = options.output->name;
    EXPECT_EQ(way == "serial", c.port != nullptr);
    if (c.port != nullptr) {
      EXPECT_STREQ(options.output_argument, c.port);
    }
    EXPECT_EQ(options.offset_sec, c.offset);
    EXPECT_EQ(way == "audio", c.audio);
    if (c.port == nullptr) {
      EXPECT_STREQ(options.output_argument, c.device);
    }
  }
}

TEST(Options, TheUsageLineWithoutOptionsIsTheFixedOne) {
  Options options;
  std::string error;
  ASSERT_EQ(parse({"1", "2", "3"}, options, error), CommandLineResult::Usage);
  EXPECT_STREQ(usage_text(options.any_option), "Usage: Kolvan COM_PORT [offset_sec]\n");
  ASSERT_EQ(parse({"--station=jjy", "1", "2", "3"}, options, error), CommandLineResult::Error);
  EXPECT_NE(std::string(usage_text(options.any_option)).find("--station=NAME"), std::string::npos);
}

// The testing options: what each reads as ("" for none of them), or the
// line that says what is wrong.
struct TestingCase {
  std::vector<const char*> args;
  const char* read_as;  // when Run
  const char* error;    // when Error
};

const TestingCase kTestingCases[] = {
    {{"3"}, "", nullptr},
    {{"--time=2027-03-28T01:58", "3"}, "time=2027-03-28T01:58:00", nullptr},
    {{"--time=2028-02-29T23:59:59", "--minutes=10", "3"}, "time=2028-02-29T23:59:59 minutes=10",
     nullptr},
    {{"--carrier", "--wait-sync", "--zone=Asia/Tokyo", "--audio"},
     "carrier wait-sync zone=Asia/Tokyo", nullptr},
    {{"--time=2027-03-28T01:58", "3", "0"}, nullptr,
     "kolvan: --time and offset_sec both set the time sent: give one of them"},
    {{"--time=2027-03-28 01:58", "3"}, nullptr,
     "kolvan: --time=2027-03-28 01:58: not a time of the form YYYY-MM-DDTHH:MM[:SS]"},
    {{"--time=2027-3-28T01:58", "3"}, nullptr,
     "kolvan: --time=2027-3-28T01:58: not a time of the form YYYY-MM-DDTHH:MM[:SS]"},
    {{"--time=2027-03-28T01:58:", "3"}, nullptr,
     "kolvan: --time=2027-03-28T01:58:: not a time of the form YYYY-MM-DDTHH:MM[:SS]"},
    {{"--time=2027-02-29T12:00", "3"}, nullptr,
     "kolvan: --time=2027-02-29T12:00: no such date or time"},
    {{"--time=2027-03-28T24:00", "3"}, nullptr,
     "kolvan: --time=2027-03-28T24:00: no such date or time"},
    {{"--time=1999-12-31T23:59", "3"}, nullptr,
     "kolvan: --time=1999-12-31T23:59: the stations carry only the years 2000 to 2099"},
    {{"--time=2027-03-28T01:58", "--carrier", "3"}, nullptr,
     "kolvan: --carrier sends no time: --time has nothing to set"},
    {{"--minutes=0", "3"}, nullptr,
     "kolvan: --minutes=0: not a whole number of minutes, 1 or more"},
    {{"--minutes=5x", "3"}, nullptr,
     "kolvan: --minutes=5x: not a whole number of minutes, 1 or more"},
    {{"--zone=", "3"}, nullptr, "kolvan: unknown option '--zone='"},
    {{"--carrier", "3", "-60"}, nullptr,
     "kolvan: --carrier sends no time: offset_sec has nothing to shift"},
    // Control characters in what the user gave are shown escaped.
    {{"--time=\x1b[2J", "3"}, nullptr,
     "kolvan: --time=\\x1b[2J: not a time of the form YYYY-MM-DDTHH:MM[:SS]"},
    {{"--minutes=1\r", "3"}, nullptr,
     "kolvan: --minutes=1\\x0d: not a whole number of minutes, 1 or more"},
    {{"--bo\x1b[2Jgus", "3"}, nullptr, "kolvan: unknown option '--bo\\x1b[2Jgus'"},
    {{"--station=a\x1b[2Jb", "3"}, nullptr,
     "kolvan: unknown station 'a\\x1b[2Jb' (one of jjy40, jjy60, wwvb, dcf77, msf, bpc)"},
    // The ways out: one at a time, named in the table's order whatever the
    // command line's; each with its own operand rule.
    {{"--audio", "--pwm=pwmchip0:0"}, nullptr,
     "kolvan: --audio and --pwm are two ways out: give one"},
    {{"--pwm=pwmchip0:0", "--audio"}, nullptr,
     "kolvan: --audio and --pwm are two ways out: give one"},
    {{"--audio", "/dev/ttyUSB0", "0"}, nullptr,
     "kolvan: --audio takes no COM_PORT, only an optional offset_sec"},
    {{"--station=jjy60"}, nullptr,
     "kolvan: give COM_PORT and an optional offset_sec after the options"},
    {{"--pwm", "3"}, nullptr, "kolvan: option '--pwm' needs the pin, e.g. --pwm=GPIO18"},
};

std::string read_as(const Options& o) {
  std::string text;
  char time[40];
  const auto add = [&text](const std::string& word) { text += (text.empty() ? "" : " ") + word; };
  if (o.has_time) {
    std::snprintf(time, sizeof time, "time=%04d-%02d-%02dT%02d:%02d:%02d", o.time.year,
                  o.time.month, o.time.day, o.time.hour, o.time.minute, o.time.second);
    add(time);
  }
  if (o.minutes != 0) add("minutes=" + std::to_string(o.minutes));
  if (o.carrier_only) add("carrier");
  if (o.wait_sync) add("wait-sync");
  if (!o.zone.empty()) add("zone=" + o.zone);
  return text;
}

TEST(Options, EachRuleOfTheTestingOptions) {
  for (const TestingCase& c : kTestingCases) {
    SCOPED_TRACE(c.args[0]);
    Options options;
    std::string error;
    const CommandLineResult result = parse(c.args, options, error);
    if (c.error != nullptr) {
      EXPECT_EQ(result, CommandLineResult::Error);
      EXPECT_EQ(error, c.error);
    } else {
      ASSERT_EQ(result, CommandLineResult::Run) << error;
      EXPECT_EQ(read_as(options), c.read_as);
    }
  }
}

// The help is read on an 80-column console, and lists every station.
TEST(Options, HelpFitsEightyColumnsAndNamesEveryStation) {
  const std::string help = help_text();
  for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
    end = help.find('\n', start);
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
  }
  for (const char* name : {"jjy40", "jjy60", "wwvb", "dcf77", "msf", "bpc"})
    EXPECT_NE(help.find(std::string("\n  ") + name + " "), std::string::npos) << name;
}

// Every way out of the table is offered: on a usage line of its own and in
// --help's list, and exactly one takes the operand.
// The help text with each line end and the indent after it read as one
// space, so that a phrase broken across lines is found whole.
std::string unwrapped(const std::string& text) {
  std::string joined;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') {
      joined += text[i];
      continue;
    }
    joined += ' ';
    while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
  }
  return joined;
}

TEST(Options, UsageAndHelpOfferEveryWayOut) {
  const std::string usage = usage_text(true), help = help_text();
  int operands = 0;
  for (const CarrierOutput* const* row = kOutputs; *row != nullptr; ++row) {
    SCOPED_TRACE((*row)->name);
    const std::string form = (*row)->usage;
    EXPECT_NE(usage.find("kolvan [--station=NAME] " + form + " [offset_sec]\n"), std::string::npos);
    EXPECT_NE(help.find("\n  " + form + (form.size() < 18 ? " " : "\n")), std::string::npos);
    EXPECT_NE(help.find((*row)->about), std::string::npos);
    // What it does while --wait-sync waits, in the help's words (wrapped).
    ASSERT_NE((*row)->waiting, nullptr);
    EXPECT_NE(unwrapped(help).find((*row)->waiting), std::string::npos);
    operands += (*row)->argument == OutputArgument::Operand;
  }
  EXPECT_EQ(operands, 1);
}

// Each text as a Linux port argument and as an offset: a port number is all
// digits; an offset is what atoi reads, refused beyond a 32-bit int.
struct ArgumentCase {
  const char* text;
  bool port_number;
  OffsetText offset;
  int value;  // the offset used, unless OutOfRange
};

const ArgumentCase kArguments[] = {
    {"1", true, OffsetText::Number, 1},
    {"0", true, OffsetText::Number, 0},
    {"10", true, OffsetText::Number, 10},
    {"1O", false, OffsetText::Partial, 1},
    {" 1", false, OffsetText::Number, 1},
    {"+1", false, OffsetText::Number, 1},
    {"-1", false, OffsetText::Number, -1},
    {"1e9", false, OffsetText::Partial, 1},
    {"30m", false, OffsetText::Partial, 30},
    {"ttyUSB0", false, OffsetText::Partial, 0},
    {"", false, OffsetText::Partial, 0},
    {"2147483647", true, OffsetText::Number, 2147483647},
    {"-2147483648", false, OffsetText::Number, -2147483647 - 1},
    {"2147483648", true, OffsetText::OutOfRange, 0},
    {"-2147483649", false, OffsetText::OutOfRange, 0},
    {"-99999999999", false, OffsetText::OutOfRange, 0},
    {"99999999999999999999999", true, OffsetText::OutOfRange, 0},
};

TEST(Arguments, PortNumbersAndOffsets) {
  for (const ArgumentCase& c : kArguments) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    std::string reason;
    EXPECT_EQ(posix_port_number_argument(c.text, reason), c.port_number);
    EXPECT_EQ(reason.empty(), c.port_number);
    int value = 12345;
    EXPECT_EQ(read_offset(c.text, value), c.offset);
    EXPECT_EQ(value, c.offset == OffsetText::OutOfRange ? 12345 : c.value);
  }
  std::string reason;
  posix_port_number_argument("1O", reason);
  EXPECT_EQ(reason, "1O is not a port number; give a number or a device path such as /dev/ttyUSB0");
}

TEST(Options, AZoneNameIsShownEscaped) {
  std::string error;
  EXPECT_FALSE(use_zone("Asia/\x1b[2JTokyo", error));
  EXPECT_EQ(error.rfind("kolvan: --zone=Asia/\\x1b[2JTokyo: ", 0), 0u) << error;
}

TEST(Options, AnOffsetReadInPartIsSaid) {
  Options options;
  std::string error;
  ASSERT_EQ(parse({"3", "1e9"}, options, error), CommandLineResult::Run);
  EXPECT_EQ(options.note, "kolvan: offset '1e9' read as 1 sec");
  ASSERT_EQ(parse({"3", "-30"}, options, error), CommandLineResult::Run);
  EXPECT_EQ(options.note, "");
}

}  // namespace
