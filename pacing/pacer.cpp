// The second pacer: one reference instant on the millisecond clock, moved on
// by exactly 1000 ms per tick so that sleep overshoot never accumulates, and
// restarted at the host clock's change of second before every frame.
//
// Readings of the millisecond clock wrap at 2^32; every difference is taken
// in unsigned arithmetic and only then read as a signed value, so the count
// passing 2^31 or 2^32 changes nothing.
#include "pacing/pacer.h"

#include <cstdint>

#include "base/units.h"
#include "pacing/clock.h"

namespace {

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

// Polls every 10 ms until the calendar reaches `second` and takes the change
// of second seen by a poll whose sleep was short: the change then lies at most
// that sleep behind, within kLatestOnsetMs. A change seen only after a longer
// sleep (a stall), or a calendar that jumped, is not taken and the polling
// goes on to the next change. A calendar that reads earlier than the one
// before `second`, or earlier than the last poll, was stepped back: the wait
// for `second` would last as long as the step, so the next change seen
// promptly is taken instead. Sets the reference at the end of the
// millisecond in which the change was taken and returns how many seconds
// after `second` that change was, or kClockSteppedBack.
//
// The poll woke somewhere inside the millisecond the count reads now, and
// perhaps only just after the calendar second changed. Ticks stepped from
// the start of that millisecond could wake a fraction of a millisecond before
// their calendar second; returning at the end of it puts the first pulse on
// the same step as the ticks that follow.
int poll_for_second(std::int64_t second) {
  std::int64_t seen = calendar_seconds();
  std::uint32_t seen_at = elapsed_ms();
  bool stepped_back = seen < second - 1;
  for (;;) {
    sleep_ms(kPollPeriodMs);
    const std::uint32_t now = elapsed_ms();
    const std::int64_t calendar = calendar_seconds();
    const bool prompt = as_signed(now - seen_at) <= kLatestOnsetMs;
    stepped_back = stepped_back || calendar < seen;
    if ((calendar >= second || stepped_back) && calendar == seen + 1 && prompt) {
      tick_base_ms = as_signed(now + 1);
      sleep_ms(1);
      return stepped_back ? kClockSteppedBack : static_cast<int>(calendar - second);
    }
    seen = calendar;
    seen_at = now;
  }
}

}  // namespace

void align_to_second(bool initial) {
  if (!initial) sleep_until_polling_time();
  (void)poll_for_second(calendar_seconds() + 1);
}

int align_to_calendar_second(std::int64_t second) {
  sleep_until_polling_time();
  return poll_for_second(second);
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

int next_second() {
  const int ticked = tick() ? 1 : 0;
  return ticked + catch_up_to_current_second();
}

bool second_just_began() {
  const std::int32_t into = since_base_ms();
  return into >= 0 && into <= kLatestOnsetMs;
}

// On Windows the millisecond count runs on the performance counter and the
// calendar on the system time, which the time service slews: the two may
// drift apart by hundreds of ppm, some 30 ms over a frame. Read at the tick
// itself, the calendar could still show the second before; read half a
// second on, it shows the tick's own second for any drift under half a
// second, and the alignment before each frame puts the ticks back on the
// calendar's seconds.
std::int64_t pacer_calendar_second() {
  std::int32_t into = since_base_ms() % static_cast<std::int32_t>(kSecondMs);
  if (into < 0) into += static_cast<std::int32_t>(kSecondMs);
  return floor_div(calendar_ms() + (kSecondMs / 2 - into), kSecondMs);
}
