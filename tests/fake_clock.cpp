// The fake clock behind pacing/clock.h for tests.
#include "fake_clock.h"

#include "pacing/clock.h"

namespace {
std::int64_t start_calendar = 0;
std::uint32_t start_ms_into_second = 0;
std::uint32_t start_elapsed = 0;
std::uint64_t now_ms = 0;
std::uint32_t overshoot_ms = 0;
std::uint32_t stall_ms = 0;
std::uint64_t stall_at_ms = 0;
std::uint32_t stall_at_extra_ms = 0;
std::vector<FakeSleep> sleeps;
}  // namespace

void fake_clock_reset(std::int64_t calendar_start, std::uint32_t ms_into_second,
                      std::uint32_t elapsed_start) {
  start_calendar = calendar_start;
  start_ms_into_second = ms_into_second;
  start_elapsed = elapsed_start;
  now_ms = 0;
  overshoot_ms = 0;
  stall_ms = 0;
  stall_at_extra_ms = 0;
  sleeps.clear();
}

void fake_clock_advance(std::uint32_t ms) { now_ms += ms; }
void fake_clock_set_overshoot(std::uint32_t ms) { overshoot_ms = ms; }
void fake_clock_stall_next_sleep(std::uint32_t ms) { stall_ms = ms; }
void fake_clock_stall_sleep_at(std::uint64_t at_ms, std::uint32_t ms) {
  stall_at_ms = at_ms;
  stall_at_extra_ms = ms;
}
std::uint64_t fake_now_ms() { return now_ms; }

std::uint32_t fake_ms_into_second() {
  return static_cast<std::uint32_t>((start_ms_into_second + now_ms) % 1000);
}

const std::vector<FakeSleep>& fake_sleeps() { return sleeps; }

std::uint32_t elapsed_ms() { return static_cast<std::uint32_t>(start_elapsed + now_ms); }

void sleep_ms(std::uint32_t ms) {
  const std::uint64_t began = now_ms;
  sleeps.push_back({began, ms});
  now_ms += ms + overshoot_ms + stall_ms;
  stall_ms = 0;
  if (stall_at_extra_ms != 0 && began >= stall_at_ms) {
    now_ms += stall_at_extra_ms;
    stall_at_extra_ms = 0;
  }
}

std::int64_t calendar_seconds() {
  return start_calendar + static_cast<std::int64_t>((start_ms_into_second + now_ms) / 1000);
}

void prepare_clocks() {}
