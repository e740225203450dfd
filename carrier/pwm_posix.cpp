// The PWM pin on Linux: each edge is one write of duty_cycle on a
// descriptor kept open, by a writer thread that sleeps to the edge's time on
// the host's real-time clock: the loop announces each second's shape ahead,
// so that the onset falls on the host's second itself rather than when the
// loop's pacer sees it begin. The channel's set-up through sysfs is in
// pwm_sysfs_posix.cpp.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "carrier/pwm.h"
#include "carrier/pwm_sysfs.h"
#include "carrier/tone.h"
#include "pacing/clock.h"
#include "pacing/pacer.h"

namespace {

PwmSysfs sysfs;
PwmCarrier carrier;

constexpr std::int64_t kNsPerSecond = 1000000000;

// The shapes announced for the coming host seconds.
std::mutex schedule_lock;
ToneSchedule schedule;  // under schedule_lock

// Faults: the last write's error, seen by whichever thread wrote, reported
// by the upkeep on the loop's thread.
std::atomic<int> write_error{0};
bool lost = false;
bool refusal_reported = false;

// One edge; called with duty_lock held. Nothing is read back.
void write_duty(std::int64_t duty_ns) {
  const int fd = sysfs.duty_fd.load();
  if (fd < 0) return;
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%lld\n", static_cast<long long>(duty_ns));
  if (!pwm_write_all(fd, text, static_cast<std::size_t>(length))) write_error.store(errno);
}

// Sleeps until `at_ns` of the real-time clock, in relative steps of at most
// a second (a step of the clock is then seen within one); returns at once
// when that time has passed.
void sleep_until(std::int64_t at_ns) {
  for (;;) {
    const std::int64_t left = at_ns - calendar_ns();
    if (left <= 0) return;
    const std::int64_t step = std::min(left, kNsPerSecond);
    timespec span{};
    span.tv_sec = static_cast<time_t>(step / kNsPerSecond);
    span.tv_nsec = static_cast<long>(step % kNsPerSecond);
    clock_nanosleep(CLOCK_MONOTONIC, 0, &span, nullptr);
  }
}

// Second after second: the shape announced for it, its edges written at
// their times from the second's start. A pulse starts on time or not at
// all: one whose onset the writer reaches more than kLatestOnsetMs late (a
// stalled host) is left out, as the loop leaves out a late symbol.
void writer() {
  std::int64_t second = calendar_ns() / kNsPerSecond + 1;
  for (;;) {
    sleep_until(second * kNsPerSecond);
    const std::int64_t now = calendar_ns();
    if (now < (second - 1) * kNsPerSecond || now >= (second + 2) * kNsPerSecond) {
      second = now / kNsPerSecond + 1;  // the clock was stepped
      continue;
    }
    PulseShape shape;
    bool announced = false;
    {
      std::lock_guard<std::mutex> hold(schedule_lock);
      announced = scheduled_shape(schedule, second, shape);
    }
    if (announced && now - second * kNsPerSecond <= kLatestOnsetMs * 1000000LL) {
      PwmEdge edges[kMaxPwmEdges];
      const int count = plan_pwm_edges(carrier, shape, 0, edges);
      for (int i = 0; i < count; ++i) {
        sleep_until(second * kNsPerSecond + static_cast<std::int64_t>(edges[i].at_ms) * 1000000);
        std::lock_guard<std::mutex> hold(sysfs.duty_lock);
        write_duty(edges[i].duty_ns);
      }
    }
    ++second;
  }
}

bool check_pwm(const char* argument, std::string& error) {
  PwmChannel parsed;
  return parse_pwm_channel(argument, parsed, error);
}

bool open_pwm(const char* argument, const Station& station) {
  std::string reason;
  carrier = pwm_carrier(station);
  if (!pwm_sysfs_select(sysfs, argument, reason) ||
      !pwm_sysfs_set_up(sysfs, carrier, kExportWaitMs, false, reason)) {
    std::fprintf(stderr, "Can not open PWM %s\nkolvan: %s\n", argument, reason.c_str());
    return false;
  }
  std::fprintf(stderr, "%s\n", pwm_sysfs_describe(sysfs, station, carrier).c_str());
  // The writer takes no signals: Ctrl-C is the loop's thread's.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread(writer).detach();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return true;
}

void announce_pwm(std::int64_t host_second, const PulseShape& shape) {
  std::lock_guard<std::mutex> hold(schedule_lock);
  schedule_shape(schedule, host_second, shape);
}

// Every shape was announced before its second and the writer keys it: the
// loop's own call at the second adds nothing.
void send_pwm(const PulseShape&) {}

// Once a second: a channel that vanished is reported once and set up again
// as soon as it can be; a write refused while the channel stays is
// reported once, until a second goes by without one.
void upkeep_pwm() {
  if (lost) {
    std::string reason;
    if (!pwm_sysfs_set_up(sysfs, carrier, 0, true, reason)) return;
    lost = false;
    std::fprintf(stderr, "kolvan: PWM %s: open again\n", sysfs.shown.c_str());
    return;
  }
  const int error = write_error.exchange(0);
  if (error == 0) {
    refusal_reported = false;
    return;
  }
  if (!pwm_sysfs_present(sysfs)) {
    lost = true;
    pwm_sysfs_release(sysfs);
    // Someone else took it away: it is no longer kolvan's to unexport.
    pwm_sysfs_forget_export(sysfs);
    std::fprintf(stderr, "kolvan: PWM %s: the channel is gone (%s); trying again every second\n",
                 sysfs.shown.c_str(), std::strerror(error));
    return;
  }
  if (!refusal_reported) {
    refusal_reported = true;
    std::fprintf(stderr, "kolvan: PWM %s: duty_cycle refused a write: %s\n", sysfs.shown.c_str(),
                 std::strerror(error));
  }
}

// --carrier: the full carrier, a duty of half the period, written once and
// then held by the hardware.
const char* hold_full_carrier(const Station&) {
  static bool held = false;
  if (!held) {
    std::lock_guard<std::mutex> hold(sysfs.duty_lock);
    write_duty(carrier.period_ns / 2);
    held = true;
  }
  return "the full carrier (duty 50 %)";
}

// From the interrupt handler: plain writes on descriptors opened ahead.
void close_pwm() { pwm_sysfs_stop(sysfs); }

constexpr CarrierOutput pwm_row() {
  CarrierOutput row = pwm_row_words();
  row.query = query_pwm;
  row.check = check_pwm;
  row.open = open_pwm;
  row.announce = announce_pwm;
  row.send = send_pwm;
  row.upkeep = upkeep_pwm;
  row.close = close_pwm;
  row.steady = hold_full_carrier;
  return row;
}

}  // namespace

extern const CarrierOutput kPwmOutput = pwm_row();
