// The fake clock behind pacing/clock.h for tests.
#include "fake_clock.h"

#include "pacing/clock.h"

namespace {
// Fake time runs in microseconds so that the millisecond count, which the
// pacer reads, and the calendar second can change at different instants.
std::int64_t start_calendar = 0;
std::uint64_t start_us_into_second = 0;
std::uint32_t start_elapsed = 0;
std::uint64_t now_us = 0;
std::uint64_t overshoot_us = 0;
std::uint64_t stall_us = 0;
std::uint64_t stall_at_us = 0;
std::uint64_t stall_at_extra_us = 0;
int calendar_ppm = 0;
std::uint64_t step_at_us = UINT64_MAX;
std::int64_t step_us = 0;
bool clock_synchronised = true;
std::uint64_t synchronised_from_us = UINT64_MAX;
std::vector<FakeSleep> sleeps;
}  // namespace

void fake_clock_reset(std::int64_t calendar_start, std::uint32_t ms_into_second,
                      std::uint32_t elapsed_start) {
  start_calendar = calendar_start;
  start_us_into_second = std::uint64_t{ms_into_second} * 1000;
  start_elapsed = elapsed_start;
  now_us = 0;
  overshoot_us = 0;
  stall_us = 0;
  stall_at_extra_us = 0;
  calendar_ppm = 0;
  step_at_us = UINT64_MAX;
  clock_synchronised = true;
  synchronised_from_us = UINT64_MAX;
  sleeps.clear();
}

void fake_clock_delay_calendar_us(std::uint32_t us) {
  start_us_into_second = (start_us_into_second + 1000000 - us % 1000000) % 1000000;
}

void fake_clock_set_calendar_drift_ppm(int ppm) { calendar_ppm = ppm; }
void fake_clock_step_calendar_at(std::uint64_t at_ms, std::int64_t step_ms) {
  step_at_us = at_ms * 1000;
  step_us = step_ms * 1000;
}

void fake_clock_advance(std::uint32_t ms) { now_us += std::uint64_t{ms} * 1000; }
void fake_clock_set_overshoot(std::uint32_t ms) { overshoot_us = std::uint64_t{ms} * 1000; }
void fake_clock_stall_next_sleep(std::uint32_t ms) { stall_us = std::uint64_t{ms} * 1000; }
void fake_clock_stall_next_sleep_us(std::uint32_t us) { stall_us = us; }
void fake_clock_stall_sleep_at(std::uint64_t at_ms, std::uint32_t ms) {
  stall_at_us = at_ms * 1000;
  stall_at_extra_us = std::uint64_t{ms} * 1000;
}
std::uint64_t fake_now_ms() { return now_us / 1000; }
std::uint64_t fake_now_us() { return now_us; }

namespace {
// Microseconds since the start of the calendar second `start_calendar`;
// negative once stepped back before it.
std::int64_t calendar_us() {
  const auto now = static_cast<std::int64_t>(now_us);
  return static_cast<std::int64_t>(start_us_into_second) + now + now * calendar_ppm / 1000000 +
         (now_us >= step_at_us ? step_us : 0);
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }
}  // namespace

std::uint32_t fake_ms_into_second() {
  return static_cast<std::uint32_t>((calendar_us() - floor_div(calendar_us(), 1000000) * 1000000) / 1000);
}

const std::vector<FakeSleep>& fake_sleeps() { return sleeps; }

std::uint32_t elapsed_ms() { return static_cast<std::uint32_t>(start_elapsed + now_us / 1000); }

// Like the platform's sleep, wakes when the millisecond count has advanced
// by `ms`, plus the overshoot and any stall.
void sleep_ms(std::uint32_t ms) {
  const std::uint64_t began = now_us;
  sleeps.push_back({began / 1000, ms});
  if (ms > 0) now_us += std::uint64_t{ms} * 1000 - now_us % 1000;
  now_us += overshoot_us + stall_us;
  stall_us = 0;
  if (stall_at_extra_us != 0 && began >= stall_at_us) {
    now_us += stall_at_extra_us;
    stall_at_extra_us = 0;
  }
}

std::int64_t calendar_seconds() { return start_calendar + floor_div(calendar_us(), 1000000); }

std::int64_t calendar_ms() { return start_calendar * 1000 + floor_div(calendar_us(), 1000); }

std::int64_t calendar_ns() { return start_calendar * 1000000000 + calendar_us() * 1000; }

void prepare_clocks() {}

void fake_clock_set_synchronised(bool synchronised) { clock_synchronised = synchronised; }
void fake_clock_synchronise_at(std::uint64_t at_ms) { synchronised_from_us = at_ms * 1000; }

bool read_clock_sync(bool& synchronised, long& estimated_error_us) {
  synchronised = clock_synchronised || now_us >= synchronised_from_us;
  estimated_error_us = 2500;
  return true;
}
