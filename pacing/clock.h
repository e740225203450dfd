// The clocks and the sleep that pacing runs on. The program links the
// platform's implementation; tests link a fake clock in its place.
#pragma once

#include <cstdint>

// Real milliseconds since an arbitrary start, advancing while the process
// sleeps. Only differences of two readings mean anything; they are taken
// modulo 2^32 as signed values, so the count may wrap.
std::uint32_t elapsed_ms();

// The milliseconds run since a start, summed in 64 bits from the steps
// between readings of elapsed_ms(), so that neither the count's wrap (49
// days) nor a run of months cuts it short. Each step must be shorter than
// the wrap, as a loop's are.
struct RunningTime {
  std::uint32_t last_ms = 0;
  std::int64_t ran_ms = 0;
};

inline RunningTime start_running_time() { return RunningTime{elapsed_ms(), 0}; }

// Adds the step since the last reading; the time run so far.
inline std::int64_t running_ms(RunningTime& time) {
  const std::uint32_t now = elapsed_ms();
  time.ran_ms += static_cast<std::uint32_t>(now - time.last_ms);
  time.last_ms = now;
  return time.ran_ms;
}

// Sleeps at least `ms` milliseconds; 0 still yields to the scheduler.
void sleep_ms(std::uint32_t ms);

// The host's calendar time in whole seconds since the epoch, read from the
// precise real-time clock so that a new second is seen as soon as it begins.
std::int64_t calendar_seconds();

// The same clock in milliseconds since the epoch.
std::int64_t calendar_ms();

// The same clock in nanoseconds since the epoch, to its full resolution:
// the one reading of it for whatever dates sound or bytes.
std::int64_t calendar_ns();

// Asks the platform for the finest sleep it can give; called once at start-up.
void prepare_clocks();

// What the host's time service says of the calendar clock: whether it is
// synchronised, and its estimated error. False when the platform doesn't say.
bool read_clock_sync(bool& synchronised, long& estimated_error_us);
