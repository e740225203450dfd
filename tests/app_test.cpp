// The command line, the simulated time and the transmission loop, run pass
// by pass on the fake clock and the fake port.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "app/command_line.h"
#include "app/simulated_time.h"
#include "app/transmission_loop.h"
#include "fake_carrier.h"
#include "fake_clock.h"
#include "utc.h"

namespace {

const std::string kDone = "Done." + std::string(40, ' ') + "|\n";
// Saturday 26 June 2010, 13:05.
const std::string k1305 = "|_____-_-|___-___--|___-__---|_---__-__|____-____|--_______|";

class Loop : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    fake_carrier_reset();
  }

  // Starts the fake host clock at the given UTC time plus `ms`, captures the
  // console and starts the loop, which aligns to the next host second.
  void begin(std::int64_t start, std::uint32_t ms) {
    fake_clock_reset(start, ms);
    ms_into_start_ = ms;
    testing::internal::CaptureStdout();
    loop_.station = &default_station();
    begin_transmission(loop_);
  }

  // Runs `passes` passes of the loop and returns what the console showed.
  std::string passes(int count, int offset_sec = 0) {
    for (int i = 0; i < count; ++i) {
      loop_.offset_sec = offset_sec;
      EXPECT_TRUE(transmission_pass(loop_));
    }
    return testing::internal::GetCapturedStdout();
  }

  std::string run(std::int64_t start, std::uint32_t ms, int count, int offset_sec = 0) {
    begin(start, ms);
    return passes(count, offset_sec);
  }

  // Fake time of the start of the calendar second `seconds` after `start`.
  std::uint64_t second_at(int seconds) const {
    return static_cast<std::uint64_t>(seconds) * 1000 - ms_into_start_;
  }

  // A pulse due at the start of the host second `due` goes out in its first
  // 10 ms (the alignment's poll period).
  static void expect_on_second(const FakePulse& pulse, std::uint64_t due) {
    EXPECT_GE(pulse.at_ms, due);
    EXPECT_LE(pulse.at_ms, due + 10);
  }

  // The frame's 60 pulses, starting at `first` in fake_pulses(), go out
  // one per host second from `second0` on, each in the first 10 ms of its
  // second and as long as its glyph says.
  void expect_frame_pulses(std::size_t first, int second0, const std::string& glyphs) {
    ASSERT_GE(fake_pulses().size(), first + 60);
    for (int p = 0; p < 60; ++p) {
      const FakePulse& pulse = fake_pulses()[first + p];
      SCOPED_TRACE("position " + std::to_string(p));
      expect_on_second(pulse, second_at(second0 + p));
      const int expected = glyphs[p] == '_' ? 768 : glyphs[p] == '-' ? 480 : 192;
      EXPECT_EQ(pulse.count, expected) << "position " << p;
    }
  }

  std::uint32_t ms_into_start_ = 0;
  Transmission loop_;
};

TEST(CommandLine, ConvertsLikeAtoiAndSaturates) {
  EXPECT_EQ(parse_int("3"), 3);
  EXPECT_EQ(parse_int("  -30"), -30);
  EXPECT_EQ(parse_int("+7x"), 7);
  EXPECT_EQ(parse_int("abc"), 0);
  EXPECT_EQ(parse_int(""), 0);
  EXPECT_EQ(parse_int("- 5"), 0);
  EXPECT_EQ(parse_int("2147483647"), INT_MAX);
  EXPECT_EQ(parse_int("-2147483648"), INT_MIN);
  EXPECT_EQ(parse_int("2147483648"), INT_MAX);
  EXPECT_EQ(parse_int("-99999999999999999999999"), INT_MIN);
}

TEST_F(Loop, SimulatedTimeIsOneSecondAheadOfHostPlusOffset) {
  fake_clock_reset(utc(2010, 6, 26, 13, 5, 41), 500);
  SimulatedTime t;
  ASSERT_TRUE(simulated_time(0, t));
  EXPECT_EQ(t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec, 130542);
  ASSERT_TRUE(simulated_time(-30, t));
  EXPECT_EQ(t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec, 130512);
  ASSERT_TRUE(simulated_time(-60 * 60 * 14, t));  // across midnight
  EXPECT_EQ(t.tm_mday * 10000 + t.tm_hour * 100 + t.tm_min, 252305);
}

TEST_F(Loop, FirstPassAtSecond59WaitsOneSecondThenSendsTheMinute) {
  // Aligned at 13:04:58, so the first pass reads 13:04:59.
  const std::string out = run(utc(2010, 6, 26, 13, 4, 57), 300, 2);
  EXPECT_EQ(out, "13:04:59 ==> Wait 01 sec..." + kDone + "13:05:00 ==> " + k1305 + "\n");
  ASSERT_EQ(fake_pulses().size(), 61u);
  // The wait's marker goes out in second 59, directly before position 0.
  EXPECT_EQ(fake_pulses()[0].count, 192);
  expect_on_second(fake_pulses()[0], second_at(2));
  expect_frame_pulses(1, 3, k1305);
}

TEST_F(Loop, FirstPassAtSecond1WaitsForTheNextMinute) {
  const std::string out = run(utc(2010, 6, 26, 13, 4, 59), 500, 2);
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "13:05:01 ==> Wait 59 sec..." + kDone);
  EXPECT_EQ(out.substr(out.find('\n') + 1, 13), "13:06:00 ==> ");
  ASSERT_EQ(fake_pulses().size(), 61u);
  expect_on_second(fake_pulses()[0], second_at(60));  // 13:05:59
  expect_on_second(fake_pulses()[1], second_at(61));  // 13:06:00, position 0
}

TEST_F(Loop, MinutesFifteenAndFortyFiveCarryNoFrame) {
  for (int skipped : {15, 45}) {
    fake_carrier_reset();
    const std::string out = run(utc(2010, 6, 26, 9, skipped - 1, 58) - 60, 500, 3);
    const std::string before = std::to_string(skipped - 1), after = std::to_string(skipped + 1);
    const std::size_t line2 = out.find('\n') + 1, line3 = out.find('\n', line2) + 1;
    EXPECT_EQ(out.substr(0, 13), "09:" + before + ":00 ==> ");
    EXPECT_EQ(out.substr(line2, line3 - line2), "09:" + std::to_string(skipped) +
                                                    ":00 ==> Wait 60 sec..." + kDone);
    EXPECT_EQ(out.substr(line3, 13), "09:" + after + ":00 ==> ");
    EXPECT_EQ(out.size() - line3, 13u + 60 + 1);
    // Frame, then only the wait's marker at 09:<skipped>:59, then the frame.
    ASSERT_EQ(fake_pulses().size(), 121u) << skipped;
    expect_frame_pulses(0, 2, out.substr(13, 60));
    EXPECT_EQ(fake_pulses()[60].count, 192);
    expect_on_second(fake_pulses()[60], second_at(121));
    expect_frame_pulses(61, 122, out.substr(line3 + 13, 60));
  }
}

TEST_F(Loop, LateTickWhileWaitingRealignsAndWaitsAgain) {
  begin(utc(2010, 6, 26, 13, 4, 59), 500);  // aligned at 13:05:00.000
  fake_clock_stall_next_sleep(2500);        // the first tick wakes at 13:05:03.500
  const std::string out = passes(2);
  EXPECT_EQ(out, "13:05:01 ==> Wait 59 sec..." + kDone + "13:05:06 ==> Wait 54 sec..." + kDone);
  ASSERT_EQ(fake_pulses().size(), 2u);
  // Realigned at 13:05:04, then one tick: the marker opens 13:05:05.
  expect_on_second(fake_pulses()[0], second_at(6));
}

TEST_F(Loop, SymbolsWhoseSecondsPassedAreDroppedNotSentLate) {
  // Position 0 at 13:05:00; the sleep after position 10 overruns by 3.4 s.
  begin(utc(2010, 6, 26, 13, 4, 58), 500);
  const std::uint64_t second0 = second_at(2);
  fake_clock_stall_sleep_at(second0 + 10 * 1000, 3400);
  const std::string out = passes(1);
  std::string expected = k1305;
  expected.replace(11, 3, "???");
  EXPECT_EQ(out, "13:05:00 ==> " + expected + "\n");
  ASSERT_EQ(fake_pulses().size(), 57u);
  for (const FakePulse& pulse : fake_pulses()) {
    const int position = static_cast<int>((pulse.at_ms - second0) / 1000);
    ASSERT_LT(position, 60);
    EXPECT_NE(expected[position], '?') << "a pulse went out in a dropped second";
    EXPECT_EQ(pulse.count, expected[position] == '_' ? 768 : expected[position] == '-' ? 480 : 192);
  }
  const std::uint64_t step0 = fake_pulses()[0].at_ms;  // the pacer's steps
  EXPECT_EQ(fake_pulses()[11].at_ms, step0 + 14 * 1000 + 400);  // late within its second
  EXPECT_EQ(fake_pulses()[12].at_ms, step0 + 15 * 1000);        // back on the step
}

TEST_F(Loop, LateTickInAFrameDropsOnlyThePassedSeconds) {
  // Queuing position 20 takes 2.4 s, so the tick after it is already late.
  begin(utc(2010, 6, 26, 13, 4, 58), 500);
  fake_carrier_stall_on_pulse(20, 2400);
  std::string expected = k1305;
  expected[21] = '?';
  EXPECT_EQ(passes(1), "13:05:00 ==> " + expected + "\n");
  ASSERT_EQ(fake_pulses().size(), 59u);
  const std::uint64_t step0 = fake_pulses()[0].at_ms;
  EXPECT_EQ(fake_pulses()[21].at_ms, step0 + 22 * 1000 + 400);
  EXPECT_EQ(fake_pulses()[22].at_ms, step0 + 23 * 1000);
}

TEST_F(Loop, LateTickAtTheEndOfAFrameStillShowsSixtyColumns) {
  begin(utc(2010, 6, 26, 13, 4, 58), 500);
  const std::uint64_t second0 = second_at(2);
  fake_clock_stall_sleep_at(second0 + 57 * 1000, 5000);
  EXPECT_EQ(passes(1), "13:05:00 ==> " + k1305.substr(0, 58) + "??\n");
  EXPECT_EQ(fake_pulses().size(), 58u);
}

TEST_F(Loop, NegativeOffsetSendsTheEarlierMinuteAtTheSameHostSeconds) {
  const std::string out = run(utc(2010, 6, 26, 13, 5, 58), 500, 1, -60);
  EXPECT_EQ(out, "13:05:00 ==> " + k1305 + "\n");
  expect_frame_pulses(0, 2, k1305);
}

}  // namespace
