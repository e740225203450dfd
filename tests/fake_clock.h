// A fake clock for tests: time stands still until the code under test sleeps
// or the test moves it on, so nothing depends on the machine's speed.
#pragma once

#include <cstdint>
#include <vector>

struct FakeSleep {
  std::uint64_t at_ms;     // fake time since reset when the sleep began
  std::uint32_t asked_ms;  // what the caller asked for
};

// Starts the fake time at `ms_into_second` milliseconds after the calendar
// second `calendar_start`, with the millisecond counter reading
// `elapsed_start` (set it near 2^32 to test wrap-around).
void fake_clock_reset(std::int64_t calendar_start, std::uint32_t ms_into_second,
                      std::uint32_t elapsed_start = 0);

// The calendar second changes `us` microseconds later than it would, so
// that it falls inside a millisecond of the count rather than at its start.
void fake_clock_delay_calendar_us(std::uint32_t us);

// The calendar runs `ppm` parts per million faster (negative: slower) than
// the millisecond count, from the reset on: a time service slewing it.
void fake_clock_set_calendar_drift_ppm(int ppm);

// What the host says of its clock's synchronisation (true after a reset);
// the estimated error is always 2.5 ms.
void fake_clock_set_synchronised(bool synchronised);

// The host's time service sets the clock `at_ms` (fake time since reset):
// synchronised from then on.
void fake_clock_synchronise_at(std::uint64_t at_ms);

// The calendar is stepped by `step_ms` (negative: back) once fake time
// reaches `at_ms`, as a time service or an administrator sets the clock;
// the millisecond count goes on unchanged.
void fake_clock_step_calendar_at(std::uint64_t at_ms, std::int64_t step_ms);

// Time passing outside any sleep: work, a suspended host.
void fake_clock_advance(std::uint32_t ms);

// Every sleep lasts this much longer than asked (the scheduler's overshoot).
void fake_clock_set_overshoot(std::uint32_t ms);

// The next sleep lasts this much longer again, once (a stall).
void fake_clock_stall_next_sleep(std::uint32_t ms);

// The first sleep that begins at or after `at_ms` (fake time since reset)
// lasts `ms` longer: the host stalled in the middle of a sleep.
void fake_clock_stall_sleep_at(std::uint64_t at_ms, std::uint32_t ms);

// The next sleep lasts this many microseconds longer, once.
void fake_clock_stall_next_sleep_us(std::uint32_t us);

// Fake time since reset.
std::uint64_t fake_now_ms();
std::uint64_t fake_now_us();

// Milliseconds since the start of the current calendar second.
std::uint32_t fake_ms_into_second();

const std::vector<FakeSleep>& fake_sleeps();
