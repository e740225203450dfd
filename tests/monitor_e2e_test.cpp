// End to end: kolvan keys the virtual serial port of kolvan-monitor, and the
// monitor decodes the minute kolvan sent to the local time kolvan showed.
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
// 0.9 s. Without libfaketime the test is skipped.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_support.h"
#include "timecode/timecode.h"
#include "utc.h"

namespace {

const std::string kKolvan = KOLVAN_BINARY;
const std::string kMonitor = KOLVAN_MONITOR_BINARY;

// The monitor's line for the minute that begins at `second` in Japan
// (UTC+9, the zone kolvan runs in here), onset left out.
std::string decoded_prefix(std::int64_t second) {
  const std::tm t = japan_time(second);
  static const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char text[96];
  std::snprintf(text, sizeof text, "decoded %04d-%02d-%02d %02d:%02d %s, day %d, parity ok, onset ",
                t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, kWeekdays[t.tm_wday],
                t.tm_yday + 1);
  return text;
}

// kolvan's line for that minute: its time and the glyphs of its frame.
std::string kolvan_line(std::int64_t second) {
  const SimulatedTime t = japan_time(second);
  TimeCodeFrame frame = make_frame();
  encode_frame(frame, t);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:00 ==> ", t.tm_hour, t.tm_min);
  return text + frame_glyphs(frame) + "\n";
}

TEST(MonitorEndToEnd, DecodesTheMinuteKolvanSends) {
  Child monitor;
  ASSERT_TRUE(start_child(monitor, {kMonitor}));
  ASSERT_TRUE(wait_for_output(monitor, "\n", 5000)) << monitor.err;
  std::smatch match;
  const std::string header = monitor.out.substr(0, monitor.out.find('\n') + 1);
  ASSERT_TRUE(std::regex_match(header, match, std::regex("Virtual serial port: (/dev/pts/[0-9]+)\n")));
  const std::string port = match[1];

  // Sent: Monday 7 December 2026 09:31 in Japan, from 09:30:52 on.
  const std::int64_t offset = utc(2026, 12, 7, 0, 30, 52) - static_cast<std::int64_t>(std::time(nullptr));
  std::vector<std::string> env = {"TZ=JST-9"};
  std::string why;
  if (!faketime_env((offset >= 0 ? "+" : "") + std::to_string(offset), env, why)) {
    kill(monitor.pid, SIGINT);
    finish_child(monitor, 5000);
    GTEST_SKIP() << why;
  }
  const std::int64_t started = static_cast<std::int64_t>(std::time(nullptr)) + offset;
  Child kolvan;
  ASSERT_TRUE(start_child(kolvan, {kKolvan, port}, env));
  ASSERT_TRUE(wait_for_output(kolvan, "\n", 5000)) << kolvan.err;
  {
    const std::string setting = "Setting: 2026/12/07 09:30:5";
    EXPECT_EQ(kolvan.out.substr(0, setting.size()), setting)
        << "libfaketime didn't move kolvan's clock";
  }

  const bool decoded = wait_for_output(monitor, "\ndecoded ", 90000);
  wait_for_output(monitor, "ms\n", 1000);
  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
  kill(monitor.pid, SIGINT);
  EXPECT_EQ(finish_child(monitor, 5000), 0) << monitor.err;
  ASSERT_TRUE(decoded) << "monitor:\n" << monitor.out << "kolvan:\n" << kolvan.out;

  // The first minute kolvan sent whole, and the monitor's reading of it;
  // nothing reported before it.
  const std::int64_t minute = (started / 60 + 1) * 60;
  EXPECT_NE(kolvan.out.find(kolvan_line(minute)), std::string::npos) << kolvan.out;
  const std::size_t first = header.size();
  const std::string line = monitor.out.substr(first, monitor.out.find('\n', first) + 1 - first);
  const std::string prefix = decoded_prefix(minute);
  ASSERT_EQ(line.substr(0, prefix.size()), prefix) << monitor.out;
  // The monitor reads the real clock, whose seconds begin with kolvan's: it
  // saw position 0 arrive after the start of its second, not before and not
  // late in it. (How soon after is the benchmark's business.)
  const int onset_ms = std::stoi(line.substr(prefix.size()));
  EXPECT_GE(onset_ms, 0) << line;
  EXPECT_LT(onset_ms, 500) << line;
  EXPECT_EQ(line.substr(line.size() - 4), " ms\n");
}

}  // namespace
