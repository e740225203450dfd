// The command line with options: each rule, and that a command line without
// options reads exactly as `Kolvan COM_PORT [offset_sec]` always did.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

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
    // Without options: as always, and JJY.
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
    {{"--station=jjy60"}, CommandLineResult::Usage, nullptr, nullptr, 0, false, ""},
    {{"--station=jjy60", "3", "4", "5"}, CommandLineResult::Usage, nullptr, nullptr, 0, false, ""},
    // The sound card takes no port: only the offset follows.
    {{"--audio"}, CommandLineResult::Run, "jjy40", nullptr, 0, true, ""},
    {{"--audio=hw:1", "-60"}, CommandLineResult::Run, "jjy40", nullptr, -60, true, "hw:1"},
    {{"--audio", "3", "4"}, CommandLineResult::Usage, nullptr, nullptr, 0, false, ""},
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
    EXPECT_EQ(options.port == nullptr, c.port == nullptr);
    if (c.port != nullptr && options.port != nullptr) {
      EXPECT_STREQ(options.port, c.port);
    }
    EXPECT_EQ(options.offset_sec, c.offset);
    EXPECT_EQ(options.audio, c.audio);
    EXPECT_EQ(options.audio_device, c.device);
  }
}

TEST(Options, TheUsageLineWithoutOptionsIsTheFixedOne) {
  Options options;
  std::string error;
  ASSERT_EQ(parse({"1", "2", "3"}, options, error), CommandLineResult::Usage);
  EXPECT_STREQ(usage_text(options.any_option), "Usage: Kolvan COM_PORT [offset_sec]\n");
  ASSERT_EQ(parse({"--station=jjy", "1", "2", "3"}, options, error), CommandLineResult::Usage);
  EXPECT_NE(std::string(usage_text(options.any_option)).find("--station=NAME"), std::string::npos);
}

// The help is read on an 80-column console, and lists every station.
TEST(Options, HelpFitsEightyColumnsAndNamesEveryStation) {
  const std::string help = help_text();
  for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
    end = help.find('\n', start);
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
  }
  for (const char* name : {"jjy40", "jjy60", "wwvb", "dcf77", "msf"})
    EXPECT_NE(help.find(std::string("\n  ") + name + " "), std::string::npos) << name;
}

}  // namespace
