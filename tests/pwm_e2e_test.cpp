// End to end on a fake PWM channel: a temporary directory laid out like
// /sys/class/pwm/pwmchip0, whose export, unexport, duty_cycle and enable are
// FIFOs that the test reads as kolvan writes them (kolvan opens them
// without waiting, so each reader is open before the channel's files are
// complete, period last). It checks the set-up (export, period, the rest
// duty, enable 0 until the first second is keyed, then 1), the duty
// values, a second kolvan refused, a whole minute read back
// from the times of the duty writes through the monitor's minute reader and
// the station's decoder, and Ctrl-C leaving the carrier off and the channel
// unexported. kolvan runs under libfaketime, when it can, a few seconds
// before a minute, as in the monitor's end-to-end test; without it, on the
// real clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "monitor/minute_reader.h"
#include "test_support.h"
#include "utc.h"

namespace {

// This build's kolvan, or the one KOLVAN_UNDER_TEST names (scripts/arm-test.sh
// runs the packaged armhf kolvan so).
const std::string kKolvan =
    std::getenv("KOLVAN_UNDER_TEST") != nullptr ? std::getenv("KOLVAN_UNDER_TEST") : KOLVAN_BINARY;

std::int64_t now_us() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// A line a FIFO received and when.
struct Write {
  std::int64_t at_us;
  std::string text;
};

// Reads whole lines from a non-blocking FIFO until `count` have come or
// `timeout_ms` passed; each line stamped when its read returned.
std::vector<Write> read_lines(int fd, std::size_t count, int timeout_ms, std::string& partial) {
  std::vector<Write> lines;
  const std::int64_t end = now_us() + static_cast<std::int64_t>(timeout_ms) * 1000;
  while (lines.size() < count && now_us() < end) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 50) != 1 || (ready.revents & POLLIN) == 0) continue;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) continue;
    const std::int64_t at = now_us();
    partial.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t eol; (eol = partial.find('\n')) != std::string::npos;) {
      lines.push_back({at, partial.substr(0, eol)});
      partial.erase(0, eol + 1);
    }
  }
  return lines;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int open_fifo(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// The key-down and key-up writes become pulses as a line monitor would cut
// them: a keyed run, and a second keyed run after a short unkeyed one
// (MSF's A=0 B=1), with lengths in line characters (960 a second).
std::vector<LinePulse> pulses_of(const std::vector<Write>& writes, const std::string& keyed) {
  std::vector<LinePulse> pulses;
  auto chars = [](std::int64_t us) { return static_cast<int>((us * 960 + 500000) / 1000000); };
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (writes[i].text != keyed) continue;
    LinePulse pulse;
    pulse.onset_us = writes[i].at_us;
    std::size_t j = i + 1;
    for (; j + 1 < writes.size(); j += 2) {
      const std::int64_t gap = writes[j + 1].at_us - writes[j].at_us;
      if (writes[j + 1].text != keyed || gap > 150000) break;
      pulse.nonzero += chars(gap);
    }
    if (j >= writes.size()) break;
    pulse.last_us = writes[j].at_us;
    pulse.bytes = chars(pulse.last_us - pulse.onset_us);
    pulse.second = (pulse.onset_us + kEarlyOnsetUs) / 1000000;
    pulses.push_back(pulse);
    i = j;
  }
  return pulses;
}

struct StationRun {
  const char* station;
  const char* tz;
  int zone_sec;
  int carried_after_min;  // DCF77 sends the next minute
  const char* keyed;      // duty of a keyed run, as written
  const char* rest;       // and of the carrier at rest
};

const StationRun kRuns[] = {
    {"jjy40", "JST-9", 9 * 3600, 0, "12500", "797"},
    {"dcf77", "CET-1CEST,M3.5.0,M10.5.0/3", 3600, 1, "618", "6451"},
};

// The first minute the station's decoder reads from the writes, as a monitor
// would that heard the line idle from `quiet_from_us` and until each pulse.
bool first_minute(const StationRun& run, const std::vector<Write>& writes,
                  std::int64_t quiet_from_us, LineMinute& out) {
  MinuteReader reader(*find_station(run.station));
  std::vector<LineEvent> events;
  reader.idle(quiet_from_us, events);
  for (const LinePulse& pulse : pulses_of(writes, run.keyed)) {
    reader.idle(pulse.onset_us - 1, events);
    reader.read(pulse, events);
  }
  reader.idle(now_us() + 2000000, events);
  for (const LineEvent& e : events) {
    if (e.kind == LineEventKind::Minute && e.minute.decoded) {
      out = e.minute;
      return true;
    }
  }
  return false;
}

void run_station(const StationRun& run) {
  SCOPED_TRACE(run.station);
  char pattern[] = "/tmp/kolvan-pwm-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string chip = std::string(pattern) + "/pwmchip0";
  const std::string channel = chip + "/pwm0";
  ASSERT_EQ(mkdir(chip.c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((chip + "/export").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((chip + "/unexport").c_str(), 0600), 0);
  const int export_fd = open_fifo(chip + "/export");
  const int unexport_fd = open_fifo(chip + "/unexport");

  std::vector<std::string> env = {std::string("TZ=") + run.tz};
  std::string why;
  const std::int64_t real_start = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t faked = utc(2026, 12, 7, 0, 30, 52) - real_start;
  faketime_env((faked >= 0 ? "+" : "") + std::to_string(faked), env, why);
  Child kolvan;
  const std::string argument = chip + ":0";
  ASSERT_TRUE(start_child(
      kolvan, {kKolvan, std::string("--station=") + run.station, "--pwm=" + argument}, env));
  // Whatever fails below, kolvan doesn't outlive the test.
  struct Reaper {
    Child& child;
    bool done = false;
    ~Reaper() {
      if (done) return;
      kill(child.pid, SIGKILL);
      finish_child(child, 2000);
    }
  } reaper{kolvan};

  std::string partial;
  const std::vector<Write> exported = read_lines(export_fd, 1, 5000, partial);
  ASSERT_EQ(exported.size(), 1u);
  EXPECT_EQ(exported[0].text, "0");
  // What the kernel makes on export; period last, as kolvan waits for it.
  ASSERT_EQ(mkdir(channel.c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((channel + "/duty_cycle").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((channel + "/enable").c_str(), 0600), 0);
  const int duty_fd = open_fifo(channel + "/duty_cycle");
  const int enable_fd = open_fifo(channel + "/enable");
  // Made whole and then renamed into place: kolvan may write the period the
  // moment the file appears, and a write of ours after that would land on it.
  std::ofstream(channel + "/period.new") << "0\n";
  ASSERT_EQ(std::rename((channel + "/period.new").c_str(), (channel + "/period").c_str()), 0);
  std::string duty_partial;
  std::vector<Write> duties = read_lines(duty_fd, 1, 5000, duty_partial);
  ASSERT_EQ(duties.size(), 1u);
  EXPECT_EQ(duties[0].text, run.rest);
  EXPECT_EQ(file_text(channel + "/period"),
            run.station == std::string("jjy40") ? "25000\n" : "12903\n");
  std::string enable_partial;
  std::vector<Write> enabled = read_lines(enable_fd, 2, 5000, enable_partial);
  ASSERT_EQ(enabled.size(), 2u);
  EXPECT_EQ(enabled[0].text, "0");
  EXPECT_EQ(enabled[1].text, "1");

  // A second kolvan on the channel is refused and touches nothing.
  Child second;
  EXPECT_EQ(run_child(second, {kKolvan, "--pwm=" + argument}, 5000), 1);
  EXPECT_EQ(second.err, "Can not open PWM " + argument + "\nkolvan: " + argument +
                            " is in use by another kolvan\n");

  // kolvan's clock, from its Setting line, in its zone.
  ASSERT_TRUE(wait_for_output(kolvan, "\n", 5000));
  const std::int64_t real_at_setting = static_cast<std::int64_t>(std::time(nullptr));
  int year, month, day, hour, minute, second_of_minute;
  ASSERT_EQ(std::sscanf(kolvan.out.c_str(), "Setting: %d/%d/%d %d:%d:%d", &year, &month, &day,
                        &hour, &minute, &second_of_minute),
            6);
  const std::int64_t setting = utc(year, month, day, hour, minute, second_of_minute) - run.zone_sec;
  const std::int64_t sent_minute = (setting / 60 + 1) * 60;
  // kolvan's clock less the real one (libfaketime's offset), to a second:
  // the Setting line reads a second ahead.
  const std::int64_t offset = setting - 1 - real_at_setting;

  // Until the first whole minute has gone out, and a little more; on a
  // loaded host whose stall dropped a pulse of it, until the next.
  LineMinute decoded;
  bool found = false;
  for (int minutes = 1; minutes <= 2 && !found; ++minutes) {
    const std::int64_t left_s = sent_minute + 60 * minutes + 2 - (std::time(nullptr) + offset);
    const int left_ms = static_cast<int>(std::max<std::int64_t>(left_s, 0) * 1000);
    const std::vector<Write> more = read_lines(duty_fd, 100000, left_ms, duty_partial);
    duties.insert(duties.end(), more.begin(), more.end());
    found = first_minute(run, duties, enabled[1].at_us, decoded);
  }
  for (const Write& w : duties) ASSERT_TRUE(w.text == run.keyed || w.text == run.rest) << w.text;

  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
  reaper.done = true;
  EXPECT_EQ(kolvan.out.substr(kolvan.out.size() - 7), "\nExit!\n");
  const std::vector<Write> disabled = read_lines(enable_fd, 1, 2000, enable_partial);
  ASSERT_EQ(disabled.size(), 1u);
  EXPECT_EQ(disabled[0].text, "0");
  const std::vector<Write> unexported = read_lines(unexport_fd, 1, 2000, partial);
  ASSERT_EQ(unexported.size(), 1u);
  EXPECT_EQ(unexported[0].text, "0");
  for (int fd : {export_fd, unexport_fd, duty_fd, enable_fd}) close(fd);

  ASSERT_TRUE(found) << kolvan.out;
  // Which minute that was on kolvan's clock, and the one it carries, in the
  // station's zone.
  const std::int64_t later = (decoded.first_second - (sent_minute - offset) + 30) / 60;
  // The minute carried, in the station's zone.
  const std::int64_t carried = sent_minute + 60 * (later + run.carried_after_min);
  const std::time_t shown = static_cast<std::time_t>(carried + run.zone_sec);
  std::tm t{};
  gmtime_r(&shown, &t);
  EXPECT_EQ(decoded.time.year, t.tm_year + 1900);
  EXPECT_EQ(decoded.time.month, t.tm_mon + 1);
  EXPECT_EQ(decoded.time.day, t.tm_mday);
  EXPECT_EQ(decoded.time.hour, t.tm_hour);
  EXPECT_EQ(decoded.time.minute, t.tm_min);
  EXPECT_EQ(decoded.unread, 0);
  std::system(("rm -rf " + std::string(pattern)).c_str());
}

// Two stations at once, each on a channel of its own: about 70 s, two
// minutes on a host too loaded to send the first minute whole.
TEST(PwmEndToEnd, KeysAFakeChannelAMinuteEachStationDecodes) {
  std::vector<std::thread> runs;
  for (const StationRun& run : kRuns) runs.emplace_back(run_station, std::cref(run));
  for (std::thread& t : runs) t.join();
}

}  // namespace
