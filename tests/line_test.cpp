// The real program keying a pseudo-terminal: what goes out on the line must
// be what the console shows, pulse for glyph, and decode to the minute shown.
// One run takes a real minute or two; the others run on an accelerated clock
// (libfaketime) across the minutes that need care.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "pacing/clock.h"
#include "glyphs.h"
#include "test_support.h"

namespace {

const std::string kProgram = KOLVAN_BINARY;

struct Burst {
  std::int64_t at_ms;  // arrival of its first byte, host real time
  int bytes;
};

// Holds the master side of a pseudo-terminal and records the bursts of zero
// bytes that arrive on it; a pause of `gap_ms` or more ends a burst. The
// terminal layer may hand one write over in pieces, late under load, so the
// gap is as long as the pulses' spacing allows.
class LineRecorder {
 public:
  explicit LineRecorder(int gap_ms) : gap_ms_(gap_ms) {
    if (!pty_.path.empty()) reader_ = std::thread([this] { record(); });
  }
  ~LineRecorder() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
  }
  const std::string& path() const { return pty_.path; }
  std::vector<Burst> bursts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bursts_;
  }
  bool nonzero_seen() const { return nonzero_; }

 private:
  void record() {
    std::int64_t last_ms = -1000;
    while (!stop_) {
      pollfd fd = {pty_.master, POLLIN, 0};
      if (poll(&fd, 1, 20) <= 0 || !(fd.revents & POLLIN)) continue;
      char buffer[4096];
      const ssize_t n = read(pty_.master, buffer, sizeof buffer);
      if (n <= 0) continue;  // no slave open yet, or between two runs
      const std::int64_t now = calendar_ms();
      for (ssize_t i = 0; i < n; ++i) nonzero_ = nonzero_ || buffer[i] != 0;
      std::lock_guard<std::mutex> lock(mutex_);
      if (bursts_.empty() || now - last_ms >= gap_ms_) bursts_.push_back({now, 0});
      bursts_.back().bytes += static_cast<int>(n);
      last_ms = now;
    }
  }

  const int gap_ms_;
  Pty pty_;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> nonzero_{false};
  std::mutex mutex_;
  std::vector<Burst> bursts_;
};

// Every glyph the console showed, in order: the frames' sixty and the
// marker that closes each wait.
std::string console_glyphs(const std::string& out) {
  std::string glyphs;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = out.substr(start, end - start);
    const std::size_t arrow = line.find("==> ");
    if (arrow != std::string::npos) glyphs += line.substr(line.rfind(' ') + 1);
  }
  return glyphs;
}

struct FrameLine {
  int hour, minute;
  std::string glyphs;
};

std::vector<FrameLine> frame_lines(const std::string& out) {
  std::vector<FrameLine> frames;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = out.substr(start, end - start);
    int hour, minute, second;
    if (line.size() == 13 + 60 && line.find("Wait") == std::string::npos &&
        std::sscanf(line.c_str(), "%d:%d:%d ==> ", &hour, &minute, &second) == 3)
      frames.push_back({hour, minute, line.substr(13)});
  }
  return frames;
}

StationTime decode_glyphs(const std::string& glyphs) {
  StationTime decoded;
  const char* reason = "";
  EXPECT_EQ(glyphs.size(), 60u) << glyphs;
  EXPECT_TRUE(default_station().decode(frame_of_glyphs(default_station(), glyphs), decoded, &reason))
      << glyphs << ": " << reason;
  return decoded;
}

void expect_minute(const StationTime& decoded, int hhmm, int day_of_year, int year, int weekday) {
  EXPECT_EQ(decoded.hour * 100 + decoded.minute, hhmm);
  EXPECT_EQ(decoded.day_of_year, day_of_year);
  EXPECT_EQ(decoded.year % 100, year);
  EXPECT_EQ(decoded.day_of_week, weekday);
}

std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

// Ten times faster, a marker and the next pulse are 100 ms apart.
constexpr int kAcceleratedGapMs = 40;
constexpr int kRealTimeGapMs = 100;

// Runs kolvan with `env` (an accelerated clock, libfaketime) on a new line
// until the console has shown `lines` complete minute lines, then
// interrupts it. Ten times faster, a wake-up 5 ms late is 50 ms late to
// kolvan, which drops that pulse ("?"): such a run is made again, up to
// three times, so that the checks see whole frames.
std::string run_accelerated(std::unique_ptr<LineRecorder>& line,
                            const std::vector<std::string>& env, std::size_t lines) {
  Child child;
  for (int attempt = 0; attempt < 3; ++attempt) {
    line = std::make_unique<LineRecorder>(kAcceleratedGapMs);
    child = Child{};
    EXPECT_TRUE(start_child(child, {kProgram, line->path()}, env));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (count_of(child.out, "\n") < lines + 1 && std::chrono::steady_clock::now() < deadline)
      wait_for_output(child, "\n\n", 200);  // never shows: collects for 200 ms
    kill(child.pid, SIGINT);
    EXPECT_EQ(finish_child(child, 5000), 0) << child.err;
    if (child.out.find('?') == std::string::npos) break;
  }
  EXPECT_EQ(without_host_clock_lines(child.err), "");
  return child.out;
}

// The line and the console agree glyph for glyph, every frame decodes to
// the minute printed before it, and the line carries nothing but zero bytes.
void expect_line_matches_console(LineRecorder& line, const std::string& out) {
  const std::string shown = console_glyphs(out);
  std::string sent;
  for (const Burst& burst : line.bursts()) sent += glyph_of_chars(burst.bytes);
  EXPECT_EQ(sent.substr(0, shown.size()), shown);
  EXPECT_LE(sent.size(), shown.size() + 1);  // a pulse queued as Ctrl-C came
  EXPECT_FALSE(line.nonzero_seen());
  for (const FrameLine& frame : frame_lines(out)) {
    const StationTime decoded = decode_glyphs(frame.glyphs);
    EXPECT_EQ(decoded.hour, frame.hour);
    EXPECT_EQ(decoded.minute, frame.minute);
  }
}

TEST(Line, AcceleratedRunSkipsMinuteFifteen) {
  // Tuesday 29 February 2028, day 60 of a leap year.
  std::vector<std::string> env = {"TZ=UTC"};
  std::string why;
  if (!faketime_env("@2028-02-29 09:13:50 x10", env, why)) GTEST_SKIP() << why;
  std::unique_ptr<LineRecorder> line;
  const std::string out = run_accelerated(line, env, 4);
  expect_line_matches_console(*line, out);
  const std::vector<FrameLine> frames = frame_lines(out);
  ASSERT_EQ(frames.size(), 2u) << out;
  EXPECT_EQ(frames[0].minute, 14);
  EXPECT_EQ(frames[1].minute, 16);
  EXPECT_NE(out.find("09:15:00 ==> Wait 60 sec...Done."), std::string::npos) << out;
  expect_minute(decode_glyphs(frames[1].glyphs), 916, 60, 28, 2);
}

TEST(Line, AcceleratedRunAcrossTheEndOfALeapYear) {
  std::vector<std::string> env = {"TZ=UTC"};
  std::string why;
  if (!faketime_env("@2024-12-31 23:58:50 x10", env, why)) GTEST_SKIP() << why;
  std::unique_ptr<LineRecorder> line;
  const std::string out = run_accelerated(line, env, 3);
  expect_line_matches_console(*line, out);
  const std::vector<FrameLine> frames = frame_lines(out);
  ASSERT_EQ(frames.size(), 2u) << out;
  expect_minute(decode_glyphs(frames[0].glyphs), 2359, 366, 24, 2);  // Tuesday
  expect_minute(decode_glyphs(frames[1].glyphs), 0, 1, 25, 3);       // Wednesday
}

// Real time: the first full frame is the host's local minute, each pulse at
// the start of its own second; Ctrl-C in the middle of the next frame leaves
// that line unfinished and ends with "Exit!" on a line of its own.
TEST(Line, RealTimeFrameIsTheHostsMinuteAndCtrlCEndsIt) {
  LineRecorder line(kRealTimeGapMs);
  Child child;
  ASSERT_TRUE(start_child(child, {kProgram, line.path()}, {"TZ=JST-9"}));
  // The first complete frame line, then a few glyphs of the next pass: up to
  // three minutes when the start falls just before minute 15 or 45.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(190);
  while (frame_lines(child.out).empty() && std::chrono::steady_clock::now() < deadline)
    wait_for_output(child, "\n\n", 200);
  ASSERT_FALSE(frame_lines(child.out).empty()) << child.out;
  const std::size_t shown_before = child.out.size();
  while (child.out.size() < shown_before + 13 + 3 && std::chrono::steady_clock::now() < deadline)
    wait_for_output(child, "\n\n", 100);
  kill(child.pid, SIGINT);
  ASSERT_EQ(finish_child(child, 5000), 0) << child.err;

  const std::string& out = child.out;
  ASSERT_GE(out.size(), 7u);
  EXPECT_EQ(out.substr(out.size() - 7), "\nExit!\n");
  EXPECT_NE(out[out.size() - 8], '\n') << "the interrupted line was finished";
  expect_line_matches_console(line, out);

  // Find the frame's bursts: the glyphs before it on the console.
  const FrameLine frame = frame_lines(out).front();
  const std::size_t first = console_glyphs(out).find(frame.glyphs);
  const std::vector<Burst> bursts = line.bursts();
  ASSERT_GE(bursts.size(), first + 60);
  const std::int64_t second0_ms = bursts[first].at_ms / 1000 * 1000;
  for (int p = 0; p < 60; ++p) {
    const std::int64_t into_second = bursts[first + p].at_ms - (second0_ms + p * 1000);
    EXPECT_GE(into_second, 0) << "position " << p;
    EXPECT_LT(into_second, 100) << "position " << p;
  }
  const std::tm japan = japan_time(second0_ms / 1000);
  EXPECT_EQ(japan.tm_sec, 0);
  expect_minute(decode_glyphs(frame.glyphs), japan.tm_hour * 100 + japan.tm_min,
                japan.tm_yday + 1, japan.tm_year % 100, japan.tm_wday);
}

}  // namespace
