// The testing options end to end on pseudo-terminals: a chosen time that
// the monitor reads back, a run that ends by itself after its minutes, the
// steady carrier's byte rate, and a run that waits for the host clock.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
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
// A loaded host can make kolvan drop a pulse ("?"): such a run is made once
// more, so that the checks see a whole frame.
TEST(OptionsEndToEnd, TimeSendsAChosenMinuteAndMinutesEndsTheRun) {
  Child monitor, kolvan;
  int status = -1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    monitor = Child{};
    kolvan = Child{};
    const std::string port = start_monitor(monitor, "dcf77");
    ASSERT_FALSE(port.empty()) << monitor.out << monitor.err;
    // The host's own zone is of no account: DCF77 sends German time.
    status = run_child(
        kolvan, {kKolvan, "--station=dcf77", "--time=2027-03-28T01:58:58", "--minutes=1", port},
        75000, {"TZ=America/Chicago"});
    wait_for_output(monitor, "announced\n", 3000);
    kill(monitor.pid, SIGINT);
    EXPECT_EQ(finish_child(monitor, 5000), 0);
    if (kolvan.out.find('?') == std::string::npos) break;
  }
  EXPECT_EQ(status, 0) << kolvan.out << kolvan.err;
  EXPECT_EQ(kolvan.out.substr(0, 29), "Setting: 2027/03/28 01:58:58\n") << kolvan.out;
  EXPECT_NE(kolvan.out.find("\n01:59:00 ==> "), std::string::npos) << kolvan.out;
  EXPECT_EQ(kolvan.out.substr(kolvan.out.size() - 20), "= 03:00 CEST\n\nExit!\n") << kolvan.out;
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

// JJY's steady carrier is the line at space: zero bytes at the line's own
// 960 a second, not faster on a pseudo-terminal that takes them at once;
// Ctrl-C ends it with nothing more than the 0.2 s queued.
TEST(OptionsEndToEnd, CarrierKeepsZeroBytesFlowingAtTheLinesRate) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  Child kolvan;
  ASSERT_TRUE(start_child(kolvan, {kKolvan, "--carrier", pty.path}));
  ASSERT_TRUE(wait_for_output(kolvan, "\n", 5000)) << kolvan.err;
  EXPECT_EQ(kolvan.out, "Carrier: the line held at space (zero bytes kept flowing), no code: JJY at "
                        "full level until Ctrl-C\n");
  pty.received(4096, 0);  // what came before the clock starts
  const auto start = std::chrono::steady_clock::now();
  const std::string bytes = pty.received(2880, 6000);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(bytes.size(), 2880u);
  EXPECT_EQ(bytes.find_first_not_of('\0'), std::string::npos);
  // 3 s of characters, less the 0.2 s queued ahead, with room for a busy host.
  EXPECT_GT(seconds, 2.4);
  EXPECT_LT(seconds, 3.4);
  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
  EXPECT_LE(pty.received(4096, 300).size(), 400u);
}

}  // namespace
