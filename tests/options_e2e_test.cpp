// The testing options end to end on pseudo-terminals: a chosen time that
// the monitor reads back, a run that ends by itself after its minutes, the
// steady carrier's byte rate, and a run that waits for the host clock.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_support.h"

namespace {

const std::string kKolvan = KOLVAN_BINARY;
const std::string kMonitor = KOLVAN_MONITOR_BINARY;

// Starts kolvan-monitor for `station` and returns its virtual port.
std::string start_monitor(Child& monitor, const char* station) {
  if (!start_child(monitor, {kMonitor, std::string("--station=") + station})) return {};
  if (!wait_for_output(monitor, "\n", 5000)) return {};
  const std::string prefix = "Virtual serial port: ";
  if (monitor.out.compare(0, prefix.size(), prefix) != 0) return {};
  return monitor.out.substr(prefix.size(), monitor.out.find('\n') - prefix.size());
}

// The DCF77 frame sent through 01:59 CET on the morning of the change to
// summer time carries 03:00 CEST with A1 set; kolvan, told to send from two
// seconds before that minute for one minute, sends it and ends by itself.
TEST(OptionsEndToEnd, TimeSendsAChosenMinuteAndMinutesEndsTheRun) {
  Child monitor, kolvan;
  const std::string port = start_monitor(monitor, "dcf77");
  ASSERT_FALSE(port.empty()) << monitor.out << monitor.err;
  // The host's own zone is of no account: DCF77 sends German time.
  const int status =
      run_child(kolvan,
                {kKolvan, "--station=dcf77", "--time=2027-03-28T01:58:58", "--minutes=1", port},
                75000, {"TZ=America/Chicago"});
  EXPECT_EQ(status, 0) << kolvan.out << kolvan.err;
  EXPECT_EQ(kolvan.out.substr(0, 29), "Setting: 2027/03/28 01:58:58\n") << kolvan.out;
  EXPECT_NE(kolvan.out.find("\n01:59:00 ==> "), std::string::npos) << kolvan.out;
  EXPECT_EQ(kolvan.out.substr(kolvan.out.size() - 20), "= 03:00 CEST\n\nExit!\n") << kolvan.out;
  EXPECT_TRUE(wait_for_output(monitor, "announced\n", 3000)) << monitor.out;
  kill(monitor.pid, SIGINT);
  EXPECT_EQ(finish_child(monitor, 5000), 0);
  EXPECT_NE(monitor.out.find("\ndecoded 2027-03-28 03:00 Sun CEST, day 87, parity ok, onset "),
            std::string::npos)
      << monitor.out;
}

// On a host whose clock the kernel reports unsynchronised, kolvan says it
// waits and keeps the line idle; once the clock is set it says so and runs.
TEST(OptionsEndToEnd, WaitSyncSendsNothingUntilTheClockIsSet) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  const std::string synced = "/tmp/kolvan-synced." + std::to_string(getpid());
  std::remove(synced.c_str());
  Child kolvan;
  ASSERT_TRUE(start_child(kolvan, {kKolvan, "--wait-sync", pty.path},
                          {std::string("LD_PRELOAD=") + CLOCK_SYNC_SHIM, "KOLVAN_TEST_SYNCED=" + synced,
                           "ASAN_OPTIONS=verify_asan_link_order=0", "TZ=UTC"}));
  EXPECT_TRUE(wait_for_error_output(kolvan, "nothing is sent until then\n", 8000)) << kolvan.err;
  // Two seconds, a pulse's worth of each: nothing on the line, nothing shown.
  EXPECT_EQ(pty.received(1, 2000), "");
  EXPECT_EQ(kolvan.out, "");
  std::FILE* file = std::fopen(synced.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_TRUE(wait_for_error_output(kolvan, "estimated error 2 ms: sending\n", 8000)) << kolvan.err;
  EXPECT_TRUE(wait_for_output(kolvan, "==> ", 8000)) << kolvan.out;
  EXPECT_EQ(kolvan.out.rfind("Setting: ", 0), 0u) << kolvan.out;
  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
  std::remove(synced.c_str());
}

}  // namespace
