// The clocks and the sleep that pacing runs on, for Windows.
//
// The millisecond count comes from the performance counter, which resolves
// far better than a millisecond; GetTickCount64 would move only at the timer
// interrupt (about 15.6 ms) and that step would land on every pulse. The
// calendar second comes from the precise system time so that a new second is
// seen as soon as it begins. The time service slews the system time and not
// the counter, so the two drift apart; the pacer reads the calendar at the
// middle of its seconds and realigns every frame, which makes that harmless.
#include "pacing/clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
constexpr std::uint64_t kFileTimePerSecond = 10000000ull;

std::uint64_t counter_frequency() {
  static const std::uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<std::uint64_t>(f.QuadPart);
  }();
  return frequency;
}

// 100 ns intervals since 1970-01-01.
std::int64_t system_time_since_epoch() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const std::uint64_t since_1601 =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>(since_1601 - kUnixEpochAsFileTime);
}

}  // namespace

std::uint32_t elapsed_ms() {
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  const auto ticks = static_cast<std::uint64_t>(count.QuadPart);
  const std::uint64_t frequency = counter_frequency();
  // Whole seconds and the rest apart, so that the product cannot overflow.
  const std::uint64_t ms = ticks / frequency * 1000u + ticks % frequency * 1000u / frequency;
  return static_cast<std::uint32_t>(ms);
}

void sleep_ms(std::uint32_t ms) { Sleep(ms); }

std::int64_t calendar_seconds() {
  return system_time_since_epoch() / static_cast<std::int64_t>(kFileTimePerSecond);
}

std::int64_t calendar_ms() {
  return system_time_since_epoch() / static_cast<std::int64_t>(kFileTimePerSecond / 1000);
}

std::int64_t calendar_ns() { return system_time_since_epoch() * 100; }

void prepare_clocks() {
  // A 1 ms timer interrupt, so that Sleep ends within about a millisecond of
  // its time instead of at the next 15.6 ms tick.
  timeBeginPeriod(1);
}

// Windows keeps its time service's state to itself (w32tm /query /status
// asks the service); there is no cheap call for it.
bool read_clock_sync(bool&, long&) { return false; }
