// The second pacer: one reference instant on the millisecond clock, moved on
// by exactly 1000 ms per tick so that sleep overshoot never accumulates, and
// restarted at the host clock's change of second before every frame.
//
// Readings of the millisecond clock wrap at 2^32; every difference is taken
// in unsigned arithmetic and only then read as a signed value, so the count
// passing 2^31 or 2^32 changes nothing.
#include "pacing/pacer.h"

#include <cstdint>

#include "pacing/clock.h"

namespace {

constexpr std::int64_t kSecondMs = 1000;
constexpr std::int64_t kPollFromMs = 800;  // polling covers only the end of a second
constexpr std::uint32_t kPollPeriodMs = 10;

// The instant at which the current second began, a reading of elapsed_ms().
std::int32_t tick_base_ms = 0;

// The two's-complement reading of a 32-bit count, without implementation-
// defined conversions.
std::int32_t as_signed(std::uint32_t count) {
  if (count <= static_cast<std::uint32_t>(INT32_MAX)) return static_cast<std::int32_t>(count);
  return static_cast<std::int32_t>(count - 0x80000000u) + INT32_MIN;
}

// Milliseconds since the reference; negative when the clock reads earlier.
std::int32_t since_base_ms() {
  return as_signed(elapsed_ms() - static_cast<std::uint32_t>(tick_base_ms));
}

void move_base_on(std::uint32_t ms) {
  tick_base_ms = as_signed(static_cast<std::uint32_t>(tick_base_ms) + ms);
}

// Sleeps until 800 ms after the reference, unless that is already past or
// the clock reads earlier than the reference.
void sleep_until_polling_time() {
  const std::int64_t remaining = kPollFromMs - since_base_ms();
  if (remaining > 0 && remaining <= kPollFromMs) sleep_ms(static_cast<std::uint32_t>(remaining));
}

// Returns at the first poll that sees a calendar second other than the one
// current at the call; the first read follows a sleep, so a second that has
// only just begun is not taken.
void poll_for_second_change() {
  const std::int64_t start = calendar_seconds();
  do {
    sleep_ms(kPollPeriodMs);
  } while (calendar_seconds() == start);
}

}  // namespace

void align_to_second(bool initial) {
  if (!initial) sleep_until_polling_time();
  poll_for_second_change();
  // The poll woke somewhere inside the millisecond the count reads now, and
  // perhaps only just after the calendar second changed. The reference is
  // the end of that millisecond: ticks stepped from its start could wake a
  // fraction of a millisecond before their calendar second, and the loop,
  // reading the time just after position 59, would then see second 58.
  // Returning at the reference puts the first pulse on the same step as the
  // ticks that follow it.
  tick_base_ms = as_signed(elapsed_ms() + 1);
  sleep_ms(1);
}

bool tick() {
  const std::int64_t wait = kSecondMs - since_base_ms();
  if (wait < 0) return false;
  sleep_ms(static_cast<std::uint32_t>(wait));
  move_base_on(static_cast<std::uint32_t>(kSecondMs));
  return true;
}

int catch_up_to_current_second() {
  const std::int32_t late = since_base_ms();
  if (late < 0) return 0;
  const std::int32_t seconds = late / static_cast<std::int32_t>(kSecondMs);
  move_base_on(static_cast<std::uint32_t>(seconds) * static_cast<std::uint32_t>(kSecondMs));
  return seconds;
}
