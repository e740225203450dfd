// End to end, for each station: kolvan keys the virtual serial port of
// kolvan-monitor, and the monitor decodes the minute kolvan sent to the time
// that station carries then (JJY, WWVB: the minute being sent; DCF77, MSF:
// the next one).
//
// To keep it short, kolvan runs under libfaketime, preloaded directly (the
// faketime wrapper would run it as its child, out of reach of SIGINT), with
// a whole number of seconds added to its clock so that it starts eight
// seconds before a minute: the first frame is complete about 68 s later
// instead of up to two minutes. libfaketime's offset moves CLOCK_REALTIME
// and with it CLOCK_MONOTONIC and CLOCK_BOOTTIME, at the real rate, so
// kolvan's pacing is unchanged and its seconds still begin with the
// host's: the monitor, on the real clock, places and times every pulse as
// it would without the offset. A speed-up ("x10") would drive kolvan too,
// but not consistently with the monitor: libfaketime counts it from each
// process's own start, so two processes started 100 ms apart disagree by
// 0.9 s. Without libfaketime the test runs on the real clock, for up to two
// and a half minutes. The stations run as separate tests, in parallel under
// ctest -j.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "child_process.h"
#include "timecode/timecode.h"
#include "utc.h"

namespace {

const std::string kKolvan = KOLVAN_BINARY;
const std::string kMonitor = KOLVAN_MONITOR_BINARY;
const char kFaketime[] = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

// A station as kolvan sends it here: its --station name (none for the
// default), the zone kolvan runs in and its offset from UTC, the zone the
// monitor shows, and how many minutes after the minute being sent the
// carried one is.
struct StationRun {
  const char* station;
  const char* tz;
  int zone_sec;
  const char* zone;
  int carried_after_min;
};

const StationRun kRuns[] = {
    {"", "JST-9", 9 * 3600, "", 0},
    {"wwvb", "UTC0", 0, " UTC", 0},
    {"dcf77", "CET-1CEST,M3.5.0,M10.5.0/3", 3600, " CET", 1},
    {"msf", "GMT0BST,M3.5.0/1,M10.5.0", 0, " GMT", 1},
};

void PrintTo(const StationRun& run, std::ostream* out) { *out << (*run.station ? run.station : "jjy"); }

std::tm zone_time(std::int64_t second, const StationRun& run) {
  const std::time_t shown = static_cast<std::time_t>(second + run.zone_sec);
  std::tm t{};
  gmtime_r(&shown, &t);
  return t;
}

// The monitor's line for the minute that begins at `second`, onset left out.
std::string decoded_prefix(std::int64_t second, const StationRun& run) {
  const std::tm t = zone_time(second, run);
  static const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char text[96];
  std::snprintf(text, sizeof text, "decoded %04d-%02d-%02d %02d:%02d %s%s, day %d, parity ok, onset ",
                t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, kWeekdays[t.tm_wday],
                run.zone, t.tm_yday + 1);
  return text;
}

// kolvan's line for the minute it sends from `second`: its time and, for
// JJY, the glyphs of its frame.
std::string kolvan_line(std::int64_t second, const StationRun& run) {
  const SimulatedTime t = zone_time(second, run);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:00 ==> ", t.tm_hour, t.tm_min);
  if (*run.station != '\0') return text;
  TimeCodeFrame frame = make_frame();
  encode_frame(frame, t);
  return text + frame_glyphs(frame) + "\n";
}

class MonitorEndToEnd : public testing::TestWithParam<StationRun> {};

TEST_P(MonitorEndToEnd, DecodesTheMinuteKolvanSends) {
  const StationRun& run = GetParam();
  const std::string station = *run.station ? std::string("--station=") + run.station : "";
  std::vector<std::string> monitor_args = {kMonitor};
  if (!station.empty()) monitor_args.push_back(station);
  Child monitor;
  ASSERT_TRUE(start_child(monitor, monitor_args));
  ASSERT_TRUE(wait_for_output(monitor, "\n", 5000)) << monitor.err;
  std::smatch match;
  const std::string header = monitor.out.substr(0, monitor.out.find('\n') + 1);
  ASSERT_TRUE(std::regex_match(header, match, std::regex("Virtual serial port: (/dev/pts/[0-9]+)\n")));
  const std::string port = match[1];

  // Sent: Monday 7 December 2026 00:31 UTC (09:31 in Japan), from 00:30:52 on.
  const bool faked = access(kFaketime, R_OK) == 0;
  std::int64_t offset = 0;
  std::vector<std::string> env = {std::string("TZ=") + run.tz};
  if (faked) {
    offset = utc(2026, 12, 7, 0, 30, 52) - static_cast<std::int64_t>(std::time(nullptr));
    env.push_back(std::string("LD_PRELOAD=") + kFaketime);
    env.push_back("FAKETIME=" + std::string(offset >= 0 ? "+" : "") + std::to_string(offset));
    env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
  } else {
    std::fprintf(stderr, "%s is missing: running on the real clock\n", kFaketime);
  }
  const std::int64_t started = static_cast<std::int64_t>(std::time(nullptr)) + offset;
  std::vector<std::string> kolvan_args = {kKolvan};
  if (!station.empty()) kolvan_args.push_back(station);
  kolvan_args.push_back(port);
  Child kolvan;
  ASSERT_TRUE(start_child(kolvan, kolvan_args, env));
  ASSERT_TRUE(wait_for_output(kolvan, "\n", 5000)) << kolvan.err;
  if (faked) {
    char setting[32];
    std::snprintf(setting, sizeof setting, "Setting: 2026/12/07 %02d:30:5",
                  zone_time(started, run).tm_hour);
    EXPECT_EQ(kolvan.out.substr(0, std::strlen(setting)), setting)
        << "libfaketime didn't move kolvan's clock";
  }

  const bool decoded = wait_for_output(monitor, "\ndecoded ", faked ? 90000 : 150000);
  wait_for_output(monitor, "ms\n", 1000);
  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
  kill(monitor.pid, SIGINT);
  EXPECT_EQ(finish_child(monitor, 5000), 0) << monitor.err;
  ASSERT_TRUE(decoded) << "monitor:\n" << monitor.out << "kolvan:\n" << kolvan.out;

  // The first minute kolvan sent whole, and the monitor's reading of it;
  // nothing reported before it.
  const std::int64_t minute = (started / 60 + 1) * 60;
  EXPECT_NE(kolvan.out.find(kolvan_line(minute, run)), std::string::npos) << kolvan.out;
  const std::size_t first = header.size();
  const std::string line = monitor.out.substr(first, monitor.out.find('\n', first) + 1 - first);
  const std::string prefix = decoded_prefix(minute + 60 * run.carried_after_min, run);
  ASSERT_EQ(line.substr(0, prefix.size()), prefix) << monitor.out;
  // The monitor reads the real clock, whose seconds begin with kolvan's: it
  // saw position 0 arrive after the start of its second, not before and not
  // late in it. (How soon after is the benchmark's business.)
  const int onset_ms = std::stoi(line.substr(prefix.size()));
  EXPECT_GE(onset_ms, 0) << line;
  EXPECT_LT(onset_ms, 500) << line;
  EXPECT_EQ(line.substr(line.size() - 4), " ms\n");
}

INSTANTIATE_TEST_SUITE_P(Stations, MonitorEndToEnd, testing::ValuesIn(kRuns),
                         [](const testing::TestParamInfo<StationRun>& info) {
                           return std::string(*info.param.station ? info.param.station : "jjy");
                         });

}  // namespace
