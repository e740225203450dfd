// The command line, the simulated time and the transmission loop, run pass
// by pass on the fake clock and the fake port.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "app/clock_watch.h"
#include "carrier/port_name.h"
#include "app/simulated_time.h"
#include "app/transmission_loop.h"
#include "carrier/carrier_output.h"
#include "carrier/serial_port.h"
#include "fake_carrier.h"
#include "fake_clock.h"
#include "glyphs.h"
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
      EXPECT_EQ(pulse.count, chars_of_glyph(glyphs[p])) << "position " << p;
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

// Past 2038, where a 32-bit time_t ends (armhf without 64-bit time): the
// host's conversion still gives the minute, and the frame carries it.
// 2208988800 is 2040-01-01 00:00:00 UTC, a Sunday, by hand: 70 years of
// 365 days and 17 leap days from 1970.
TEST(Year2040, AMinuteIsConvertedAndEncoded) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::int64_t minute = 2208988800 + 60;
  SimulatedTime t;
  ASSERT_TRUE(local_time(minute, t));
  EXPECT_EQ(t.tm_year + 1900, 2040);
  EXPECT_EQ(t.tm_yday, 0);
  EXPECT_EQ(t.tm_wday, 0);
  EXPECT_EQ(t.tm_min, 1);
  StationFrame frame;
  std::string carries;
  ASSERT_TRUE(default_station().encode(minute, local_time, zone_time, frame, carries));
  StationTime decoded;
  ASSERT_TRUE(default_station().decode(frame, decoded, nullptr));
  EXPECT_EQ(decoded.year, 2040);
  EXPECT_EQ(decoded.day_of_year, 1);
  EXPECT_EQ(decoded.hour * 60 + decoded.minute, 1);
  EXPECT_EQ(decoded.day_of_week, 0);
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

// The frames carry the year in two digits of 2000 to 2099: an offset that
// leaves them is refused at start and in the loop, never sent as 1999's 99.
TEST_F(Loop, AnOffsetOutsideTheYears2000To2099IsRefused) {
  const std::int64_t host = utc(2040, 6, 26, 13, 5, 41);
  const struct {
    std::int64_t sent;
    bool refused;
  } kCases[] = {{utc(1999, 12, 31, 23, 59, 59), true}, {utc(2000, 1, 1, 0, 0, 0), false},
                {utc(2099, 12, 31, 23, 59, 59), false}, {utc(2100, 1, 1, 0, 0, 0), true}};
  for (const auto& c : kCases) {
    begin(host, 500);  // aligned at host + 1 s, which reads as host + 2 s
    const int offset = static_cast<int>(c.sent - host - 2);
    SimulatedTime t;
    EXPECT_EQ(simulated_time(offset, t), !c.refused) << c.sent;
    loop_.offset_sec = offset;
    EXPECT_EQ(transmission_pass(loop_), !c.refused) << c.sent;
    testing::internal::GetCapturedStdout();
  }
}

// --minutes=2: exactly two frames, the wait before them, and the end once
// the last pulse has ended.
TEST_F(Loop, MinutesEndsAfterExactlyThatManyFrames) {
  fake_clock_reset(utc(2010, 6, 26, 13, 4, 57), 300);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(run_transmission_loop(default_station(), 0, 2));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "13:04:59 ==> Wait 01 sec..." + kDone);
  EXPECT_EQ(out.substr(out.rfind("\n", out.size() - 2) + 1, 13), "13:06:00 ==> ");
  EXPECT_EQ(fake_pulses().size(), 121u);
  const std::uint64_t end = 123 * 1000 - 300;  // 13:07:00, the step after the last pulse
  EXPECT_GE(fake_now_ms(), end);
  EXPECT_LE(fake_now_ms(), end + 10);
}

// BPC's second 59 isn't a fixed symbol: a wait ends with the one the
// minute's own frame has there. On 2024-12-22 that is '1' (0.2 s: the year's
// 64 bit 0, the date's parity 1), as the published 12:47 frame shows; the
// next pass sends the 12:47 frame itself.
TEST_F(Loop, ABpcWaitEndsWithTheSymbolItsMinuteHasInSecond59) {
  fake_clock_reset(utc(2024, 12, 22, 12, 46, 55), 300);
  ms_into_start_ = 300;
  testing::internal::CaptureStdout();
  loop_.station = find_station("bpc");
  begin_transmission(loop_);
  const std::string out = passes(2);
  EXPECT_EQ(out, "12:46:57 ==> Wait 03 sec...Done." + std::string(40, ' ') + "1\n" +
                     "12:47:00 ==> |0000233132112301201|1000233133112301201|2000233133112301201"
                     " = 12:47 CST\n");
  ASSERT_EQ(fake_pulses().size(), 61u);
  expect_on_second(fake_pulses()[0], second_at(4));
  EXPECT_EQ(fake_pulses()[0].count, 192);
  // The markers of seconds 0, 20 and 40 send nothing; block 0's number 0.1 s.
  for (const int marker : {0, 20, 40}) EXPECT_EQ(fake_pulses()[1 + marker].count, 0) << marker;
  EXPECT_EQ(fake_pulses()[2].count, 96);
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

// A stall in the sleep after position 10 ends early, in the middle or at the
// end of a second: the symbols of the seconds it took, and one whose second
// is more than 50 ms gone, are dropped; every pulse that goes out starts
// within 50 ms of its own second's step.
TEST_F(Loop, NoPulseStartsLateInItsSecond) {
  struct Case {
    std::uint32_t stall_ms;
    int first_dropped, dropped;
  };
  for (const Case c : {Case{1700, 11, 2}, Case{3040, 11, 3}, Case{3060, 11, 4}, Case{3500, 11, 4},
                       Case{3990, 11, 4}}) {
    SCOPED_TRACE(c.stall_ms);
    fake_carrier_reset();
    begin(utc(2010, 6, 26, 13, 4, 58), 500);  // position 0 at 13:05:00
    fake_clock_stall_sleep_at(second_at(2) + 10 * 1000, c.stall_ms);
    std::string expected = k1305;
    expected.replace(static_cast<std::size_t>(c.first_dropped), static_cast<std::size_t>(c.dropped),
                     static_cast<std::size_t>(c.dropped), '?');
    testing::internal::CaptureStderr();
    EXPECT_EQ(passes(1), "13:05:00 ==> " + expected + "\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kolvan: the host was late: " + std::to_string(c.dropped) +
                  " of the 60 pulses of 13:05 dropped\n");
    ASSERT_EQ(fake_pulses().size(), 60u - static_cast<std::size_t>(c.dropped));
    const std::uint64_t step0 = fake_pulses()[0].at_ms;  // the pacer's steps
    for (const FakePulse& pulse : fake_pulses()) {
      const std::size_t position = (pulse.at_ms - step0) / 1000;
      ASSERT_LT(position, 60u);
      EXPECT_LE((pulse.at_ms - step0) % 1000, 50u) << "position " << position;
      EXPECT_NE(expected[position], '?') << "a pulse went out in a dropped second";
      EXPECT_EQ(pulse.count, chars_of_glyph(expected[position]));
    }
  }
}

TEST_F(Loop, LateTickInAFrameDropsThePassedSecondsAndTheOneUnderWay) {
  // Queuing position 20 takes 2.4 s: the tick after it is late, and 22 is
  // 0.4 s gone when the loop gets to it.
  begin(utc(2010, 6, 26, 13, 4, 58), 500);
  fake_carrier_stall_on_pulse(20, 2400);
  std::string expected = k1305;
  expected.replace(21, 2, "??");
  EXPECT_EQ(passes(1), "13:05:00 ==> " + expected + "\n");
  ASSERT_EQ(fake_pulses().size(), 58u);
  EXPECT_EQ(fake_pulses()[21].at_ms, fake_pulses()[0].at_ms + 23 * 1000);  // back on the step
}

// A stall before the frame's first second: the alignment sees the start of
// position 0 too late, drops what passed and starts on a later second.
TEST_F(Loop, StallBeforeTheFrameDropsItsFirstSeconds) {
  begin(utc(2010, 6, 26, 13, 4, 58), 500);  // first pass at 13:04:59 (host)
  fake_clock_stall_next_sleep(1700);        // the sleep before polling
  std::string expected = k1305;
  expected.replace(0, 2, "??");
  EXPECT_EQ(passes(1), "13:05:00 ==> " + expected + "\n");
  ASSERT_EQ(fake_pulses().size(), 58u);
  expect_on_second(fake_pulses()[0], second_at(4));  // position 2
}

// The host clock set back just before a frame's first second: the frame is
// neither sent nor shown, and the next pass reads the time again at once,
// instead of waiting as long as the step for the old second to come back.
// Set back 1.5 s, that is the same minute again; set back an hour, a wait.
// Set back while the pacer polls for the frame's second, or before.
TEST_F(Loop, AClockSetBackBeforeAFrameSilencesNoMoreThanASecond) {
  const struct {
    std::uint64_t before_ms;  // before the frame's first second
    std::int64_t step_ms;
    const char* then;
  } kCases[] = {{100, -1500, "13:05:00 ==> |"},
                {100, -3600 * 1000, "12:05:01 ==> Wait 59 sec..."},
                {300, -3600 * 1000, "12:05:01 ==> Wait 59 sec..."}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.step_ms) + " ms, " + std::to_string(c.before_ms) + " ms before");
    fake_carrier_reset();
    begin(utc(2010, 6, 26, 13, 4, 58), 500);  // first pass at 13:04:59, the frame 13:05
    fake_clock_step_calendar_at(second_at(2) - c.before_ms, c.step_ms);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(transmission_pass(loop_));
    EXPECT_LE(fake_now_ms(), second_at(2) + 1000);
    EXPECT_EQ(fake_pulses().size(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kolvan: the host clock went back: 13:05 not sent, the time read again\n");
    const std::string out = passes(1);
    EXPECT_EQ(out.substr(0, 14), "13:05:00 ==> \n");
    EXPECT_EQ(out.substr(14, std::string(c.then).size()), c.then);
  }
}

// The calendar slewed 500 ppm either way against the millisecond count (a
// time service at its fastest slew): minute after minute, every pass reads
// its own minute, with no "Wait" between frames.
TEST_F(Loop, CalendarDriftingAgainstTheCountLosesNoMinute) {
  for (const int ppm : {-500, 500}) {
    SCOPED_TRACE(ppm);
    fake_carrier_reset();
    begin(utc(2010, 6, 26, 13, 3, 58), 500);
    fake_clock_set_calendar_drift_ppm(ppm);
    const std::string out = passes(40);
    std::size_t line = 0;
    for (int minute = 0; minute < 40; ++minute) {
      char time[16];
      std::snprintf(time, sizeof time, "%02d:%02d:00 ==> ", 13 + (4 + minute) / 60, (4 + minute) % 60);
      ASSERT_EQ(out.substr(line, 13), time) << out.substr(line, 80);
      line = out.find('\n', line) + 1;
    }
    EXPECT_EQ(out.find('?'), std::string::npos);
  }
}

// The device vanishes: the loop tries to open it again once a second, never
// more, shows every glyph meanwhile, and sends again once it is back.
TEST_F(Loop, LostPortIsTriedOnceASecondAndPulsesResume) {
  begin(utc(2010, 6, 26, 13, 4, 58), 500);
  fake_carrier_lose(20);
  const std::string out = passes(2);
  EXPECT_EQ(out.substr(0, 13 + 60), "13:05:00 ==> " + k1305);
  EXPECT_EQ(fake_carrier_reopen_attempts(), 20);
  // Attempt 20 follows position 19: position 20 is the first pulse sent.
  ASSERT_EQ(fake_pulses().size(), 40u + 60u);
  expect_on_second(fake_pulses()[0], second_at(2 + 20));
}

// The host clock's synchronisation, read at start and at every pass: one
// line when it is found unsynchronised, one when that changes, and nothing
// on standard output.
TEST_F(Loop, UnsynchronisedHostClockIsSaidOnceAndAgainWhenItChanges) {
  reset_host_clock_watch();
  begin(utc(2010, 6, 26, 13, 4, 58), 500);
  testing::internal::CaptureStderr();
  fake_clock_set_synchronised(false);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(transmission_pass(loop_));
  fake_clock_set_synchronised(true);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(transmission_pass(loop_));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "kolvan: the host clock is not synchronised (NTP); clocks set from it will be wrong "
            "by as much as it is\n"
            "kolvan: the host clock is synchronised (NTP) again; estimated error 3 ms\n");
  EXPECT_EQ(out.find("kolvan"), std::string::npos);
}

// --wait-sync: returns once the host says its clock is set, looking once a
// second; at once, and silently, when it is set already.
TEST(WaitSync, ReturnsAtTheFirstLookAfterTheClockIsSet) {
  const struct {
    std::uint64_t set_at_ms;
    std::uint64_t returns_at_ms;
    const char* said;
  } kCases[] = {
      {0, 0, ""},
      {3500, 4000,
       "kolvan: waiting until the host clock is synchronised (NTP); nothing is sent until then\n"
       "kolvan: the host clock is synchronised (NTP), estimated error 3 ms: sending\n"},
  };
  for (const auto& c : kCases) {
    fake_clock_reset(utc(2010, 6, 26, 13, 4, 57), 300);
    fake_clock_set_synchronised(false);
    fake_clock_synchronise_at(c.set_at_ms);
    testing::internal::CaptureStderr();
    wait_for_host_clock_sync();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.said) << c.set_at_ms;
    EXPECT_EQ(fake_now_ms(), c.returns_at_ms) << c.set_at_ms;
  }
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

// --carrier on the serial line: 192 zero bytes ahead, then 960 a second,
// past the millisecond counter's signed range and its wrap (25 and 50 days).
TEST(SteadyCarrier, SerialLineKeepsItsRatePastTheCountersWrap) {
  fake_clock_reset(utc(2026, 1, 1, 0, 0, 0), 0);
  fake_carrier_reset();
  const struct {
    std::uint32_t advance_ms;
    std::int64_t total_bytes;
  } kSteps[] = {{0, 192}, {20, 211}, {0x80000000u, 403}, {0x80000000u, 595}};
  for (const auto& step : kSteps) {
    fake_clock_advance(step.advance_ms);
    kSerialOutput.steady(default_station());
    EXPECT_EQ(fake_zero_bytes(), step.total_bytes) << "after " << step.advance_ms << " ms more";
  }
}
