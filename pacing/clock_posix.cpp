// The clocks and the sleep that pacing runs on, for Linux.
//
// The millisecond count uses CLOCK_BOOTTIME, which keeps counting while the
// host is suspended, so a tick after a resume sees how late it is. Sleeps are
// relative on CLOCK_MONOTONIC: a sleep cut short or stretched by a suspend is
// caught by the count afterwards either way, and time-shifting test tools
// (libfaketime) scale monotonic sleeps but not boot-time ones, so only this
// pairing lets the whole program run on an accelerated clock. The calendar
// second comes from CLOCK_REALTIME itself rather than time(), which follows a
// coarse clock that shows a new second up to a scheduler tick late; that
// lateness would land on every pulse.
//
// The count and the calendar never drift apart here: the kernel applies the
// time service's corrections (adjtimex slewing, frequency and offset) to the
// one clock from which CLOCK_REALTIME, CLOCK_MONOTONIC and CLOCK_BOOTTIME are
// all read; only CLOCK_MONOTONIC_RAW runs uncorrected. Only a step of the
// calendar moves it against the count, and the pacer realigns every frame.
#include "pacing/clock.h"
#include "pacing/clock_sync.h"

#include <cerrno>
#include <ctime>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/timex.h>

namespace {

constexpr clockid_t kElapsedClock = CLOCK_BOOTTIME;
constexpr clockid_t kSleepClock = CLOCK_MONOTONIC;

timespec read_clock(clockid_t id) {
  timespec now{};
  clock_gettime(id, &now);
  return now;
}

timespec to_timespec(std::uint32_t ms) {
  timespec span{};
  span.tv_sec = static_cast<time_t>(ms / 1000);
  span.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  return span;
}

}  // namespace

std::uint32_t elapsed_ms() {
  const timespec now = read_clock(kElapsedClock);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

// Sleeps until the millisecond count has advanced by `ms`: the part of the
// current millisecond already gone is taken off, so that a pacer stepping
// its reference by whole milliseconds wakes on the step itself rather than
// up to a millisecond after it.
void sleep_ms(std::uint32_t ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  const long gone_ns = read_clock(kElapsedClock).tv_nsec % 1000000L;
  timespec left = to_timespec(ms);
  if (left.tv_nsec >= gone_ns) {
    left.tv_nsec -= gone_ns;
  } else {
    left.tv_sec -= 1;
    left.tv_nsec += 1000000000L - gone_ns;
  }
  while (clock_nanosleep(kSleepClock, 0, &left, &left) == EINTR) {
  }
}

std::int64_t calendar_seconds() {
  return static_cast<std::int64_t>(read_clock(CLOCK_REALTIME).tv_sec);
}

std::int64_t calendar_ms() {
  const timespec now = read_clock(CLOCK_REALTIME);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::int64_t calendar_ns() {
  const timespec now = read_clock(CLOCK_REALTIME);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void prepare_clocks() {
  // One nanosecond of timer slack: sleeps end as close to their time as the
  // kernel allows. Without it they merely overshoot a little more.
  (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

// The kernel's own view, kept by the time service (chrony, ntpd,
// systemd-timesyncd): TIME_ERROR or STA_UNSYNC until it has set the clock
// from a source. A read with no mode bits changes nothing.
bool read_clock_sync(bool& synchronised, long& estimated_error_us) {
  timex state{};
  const int result = ntp_adjtime(&state);
  return clock_sync_from_kernel(result, state.status, state.esterror, synchronised,
                                estimated_error_us);
}
