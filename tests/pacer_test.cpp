// Tests of the second pacer on the fake clock: the size of each sleep it asks
// for, when it reports lateness, and where it leaves its reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fake_clock.h"
#include "pacing/clock.h"
#include "pacing/clock_sync.h"
#include "pacing/pacer.h"

namespace {

constexpr std::int64_t kCalendar = 1277525100;  // 2010-06-26 04:05:00 UTC

// Sleeps asked since the `from`-th one.
std::vector<std::uint32_t> asked_since(std::size_t from) {
  std::vector<std::uint32_t> asked;
  for (std::size_t i = from; i < fake_sleeps().size(); ++i) asked.push_back(fake_sleeps()[i].asked_ms);
  return asked;
}

// What an alignment asks for: a pre-sleep (when not 0), `polls` polls of
// 10 ms, and the last millisecond up to its reference.
std::vector<std::uint32_t> alignment(std::uint32_t pre_sleep, std::size_t polls) {
  std::vector<std::uint32_t> asked(polls, 10);
  if (pre_sleep != 0) asked.insert(asked.begin(), pre_sleep);
  asked.push_back(1);
  return asked;
}

// The sleep the next tick asks for: where the reference stands, seen from now.
std::uint32_t next_tick_sleep() {
  const std::size_t before = fake_sleeps().size();
  EXPECT_TRUE(tick());
  EXPECT_EQ(fake_sleeps().size(), before + 1);
  return fake_sleeps().back().asked_ms;
}

// Starts the fake clock at a second change with the millisecond count reading
// `elapsed_at_change` there, and aligns the pacer to that change; it returns
// at its reference, the end of the millisecond in which the change was seen.
void align_at_second_change(std::uint32_t elapsed_at_change = 5000) {
  fake_clock_reset(kCalendar, 990, elapsed_at_change - 10);
  align_to_second(true);
  ASSERT_EQ(fake_now_ms(), 11u);
}

TEST(PacerTick, SleepsTheRestOfTheSecondAndMovesTheReferenceByExactlyOneSecond) {
  align_at_second_change();
  fake_clock_advance(250);
  EXPECT_EQ(next_tick_sleep(), 750u);
  fake_clock_advance(1000);  // exactly one second after the new reference
  EXPECT_EQ(next_tick_sleep(), 0u);
  EXPECT_EQ(next_tick_sleep(), 1000u);
}

TEST(PacerTick, OneMillisecondLateReturnsFalseWithoutSleepingOrMovingTheReference) {
  align_at_second_change();
  fake_clock_advance(1001);
  EXPECT_FALSE(tick());
  EXPECT_FALSE(tick());
  EXPECT_EQ(fake_sleeps().size(), 2u);  // only the alignment's poll and last millisecond
  EXPECT_EQ(fake_now_ms(), 1012u);
}

TEST(PacerTick, TenTicksEndExactlyTenSecondsAfterTheAlignmentWhateverTheOvershoot) {
  align_at_second_change();
  const std::uint64_t aligned_at = fake_now_ms();
  const std::size_t first = fake_sleeps().size();
  fake_clock_set_overshoot(7);
  for (int i = 0; i < 10; ++i) {
    if (i == 4) fake_clock_stall_next_sleep(400);
    ASSERT_TRUE(tick()) << "tick " << i;
  }
  EXPECT_EQ(asked_since(first),
            (std::vector<std::uint32_t>{1000, 993, 993, 993, 993, 593, 993, 993, 993, 993}));
  EXPECT_EQ(fake_now_ms(), aligned_at + 10007);
  EXPECT_EQ(next_tick_sleep(), 993u);  // reference at alignment + 10000
}

TEST(PacerAlign, AfterAFramePutsOffPollingUntil800MsAfterTheReference) {
  align_at_second_change();
  fake_clock_advance(100);
  std::size_t first = fake_sleeps().size();
  align_to_second(false);
  EXPECT_EQ(asked_since(first), alignment(700, 20));
  // The poll saw the change 1 ms after it; the reference is the end of that
  // millisecond, and the alignment returns there.
  EXPECT_EQ(fake_ms_into_second(), 2u);
  EXPECT_EQ(next_tick_sleep(), 1000u);

  fake_clock_advance(900);
  first = fake_sleeps().size();
  align_to_second(false);
  EXPECT_EQ(asked_since(first), alignment(0, 10));
}

TEST(PacerAlign, PreSleepOnlyAfterAFrameAndWhenBetweenOneAnd800MsRemain) {
  align_at_second_change();
  fake_clock_advance(800);  // nothing remains
  std::size_t first = fake_sleeps().size();
  align_to_second(false);
  EXPECT_EQ(asked_since(first), alignment(0, 20));

  first = fake_sleeps().size();
  align_to_second(false);  // right at the reference: the whole 800 ms remain
  EXPECT_EQ(asked_since(first).front(), 800u);

  // At start-up or after a late tick the polling starts at once.
  fake_clock_advance(100);
  first = fake_sleeps().size();
  align_to_second(true);
  EXPECT_EQ(asked_since(first), alignment(0, 90));

  // The millisecond clock reading 1 ms earlier than the reference (as it
  // does right after an alignment): no pre-sleep.
  const std::uint32_t base = 5000;
  align_at_second_change(base);
  fake_clock_reset(kCalendar, 0, base);
  first = fake_sleeps().size();
  align_to_second(false);
  EXPECT_EQ(asked_since(first), alignment(0, 100));
}

TEST(PacerAlign, InitialReturnsAtTheFirstPollPastTheNextChangeOfSecond) {
  struct Case {
    std::uint32_t called_at_ms_into_second;
    std::uint32_t overshoot_ms;
    std::uint64_t returns_after_ms;
  };
  // Just after a change, or exactly at it, that change is not taken.
  for (const Case c : {Case{1, 0, 1001}, Case{0, 0, 1001}, Case{995, 0, 11}, Case{995, 3, 17},
                       Case{990, 0, 11}}) {
    fake_clock_reset(kCalendar, c.called_at_ms_into_second, 7000);
    fake_clock_set_overshoot(c.overshoot_ms);
    align_to_second(true);
    EXPECT_EQ(fake_now_ms(), c.returns_after_ms) << "called at ms " << c.called_at_ms_into_second;
    EXPECT_EQ(asked_since(0), alignment(0, fake_sleeps().size() - 1));
    fake_clock_set_overshoot(0);
    EXPECT_EQ(next_tick_sleep(), 1000u - c.overshoot_ms);  // it returned at its reference
  }
}

TEST(PacerWrapAround, TicksAlignsAndCatchesUpAcrossBothWrapsOfTheCount) {
  for (const std::uint32_t wrap : {0x80000000u, 0u}) {  // signed, then unsigned
    align_at_second_change(wrap - 400);
    EXPECT_EQ(next_tick_sleep(), 1000u);
    fake_clock_advance(300);
    EXPECT_EQ(next_tick_sleep(), 700u);

    align_at_second_change(wrap - 50);
    fake_clock_advance(100);
    const std::size_t first = fake_sleeps().size();
    align_to_second(false);
    EXPECT_EQ(asked_since(first).front(), 700u) << "wrap " << wrap;

    align_at_second_change(wrap - 10);
    fake_clock_advance(1001);
    EXPECT_FALSE(tick()) << "wrap " << wrap;
    EXPECT_EQ(catch_up_to_current_second(), 1);
    EXPECT_EQ(next_tick_sleep(), 999u);
  }
}

TEST(PacerCatchUp, MovesTheReferenceOnByTheWholeSecondsPassed) {
  align_at_second_change();
  fake_clock_advance(400);
  EXPECT_EQ(catch_up_to_current_second(), 0);
  EXPECT_EQ(next_tick_sleep(), 600u);

  fake_clock_advance(3400);  // a stall 3.4 s past the reference
  EXPECT_FALSE(tick());
  EXPECT_EQ(catch_up_to_current_second(), 3);
  EXPECT_EQ(catch_up_to_current_second(), 0);
  EXPECT_EQ(next_tick_sleep(), 600u);
  EXPECT_EQ(next_tick_sleep(), 1000u);

  fake_clock_advance(1999);
  EXPECT_EQ(catch_up_to_current_second(), 1);
  fake_clock_advance(1001);
  EXPECT_EQ(catch_up_to_current_second(), 2);
  EXPECT_EQ(next_tick_sleep(), 1000u);

  // The millisecond clock reading 1.5 s earlier than the reference: not late.
  align_at_second_change(5000);
  fake_clock_reset(kCalendar, 0, 3501);
  EXPECT_EQ(catch_up_to_current_second(), 0);
  EXPECT_EQ(next_tick_sleep(), 2500u);
}

// The calendar second may change inside a millisecond of the count, and the
// poll that sees it may wake only just after. No tick may wake before its
// calendar second: the loop reads the time right after each pulse.
TEST(PacerAlign, TicksNeverWakeBeforeTheirCalendarSecond) {
  fake_clock_reset(kCalendar, 990, 7000);
  fake_clock_delay_calendar_us(10);      // the second changes 10 µs into a millisecond
  fake_clock_stall_next_sleep_us(30);    // and the poll that sees it wakes 20 µs later
  align_to_second(true);
  ASSERT_EQ(calendar_seconds(), kCalendar + 1);
  for (int k = 2; k <= 4; ++k) {
    ASSERT_TRUE(tick());
    EXPECT_EQ(calendar_seconds(), kCalendar + k) << "tick " << k - 1 << " woke early";
  }
}

// The kernel's answers, in the numbers of its ABI (linux/timex.h):
// TIME_OK 0, TIME_INS 1, TIME_ERROR 5; STA_PLL 0x1, STA_UNSYNC 0x40,
// STA_NANO 0x2000.
TEST(ClockSync, ReadFromWhatTheKernelReturns) {
  struct Case {
    int result, status;
    bool answered, synchronised;
  } const cases[] = {
      {0, 0x2001, true, true},    // a time service set the clock
      {1, 0x2011, true, true},    // a leap second announced: still set
      {5, 0x2041, true, false},   // TIME_ERROR with STA_UNSYNC: never set
      {5, 0x2001, true, false},   // TIME_ERROR alone
      {0, 0x0040, true, false},   // STA_UNSYNC alone
      {-1, 0, false, false},      // the call failed: the platform doesn't say
  };
  for (const Case& c : cases) {
    bool synchronised = !c.synchronised;
    long error_us = 0;
    EXPECT_EQ(clock_sync_from_kernel(c.result, c.status, 16000, synchronised, error_us), c.answered)
        << c.result << " " << c.status;
    if (!c.answered) continue;
    EXPECT_EQ(synchronised, c.synchronised) << c.result << " " << c.status;
    EXPECT_EQ(error_us, 16000);
  }
}

}  // namespace
