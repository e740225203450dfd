// The PWM pin on Linux: each edge is one write of duty_cycle on a
// descriptor kept open, by a writer thread that looks at the host's
// real-time clock and keys by the rules of pwm_writer.h: the loop announces
// each second's shape ahead (carrier/ahead.h), so that the onset falls on
// the host's second itself rather than when the loop's pacer sees it begin.
// The channel's set-up through sysfs is in pwm_sysfs_posix.cpp.
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/units.h"
#include "carrier/ahead.h"
#include "carrier/pwm.h"
#include "carrier/pwm_sysfs.h"
#include "carrier/pwm_writer.h"
#include "pacing/clock.h"

namespace {

// Everything the PWM pin keeps while kolvan runs.
struct PwmPosix {
  PwmSysfs sysfs;
  PwmCarrier carrier;
  // --carrier: the writer holds the full carrier instead of the schedule.
  std::atomic<bool> steady{false};
  // Set after the channel was set up again, so that the writer writes what
  // it holds anew.
  std::atomic<bool> set_up_again{false};
  // Faults: the last write's error, seen by the writer, reported by the
  // upkeep on the loop's thread.
  std::atomic<int> write_error{0};
  // On the loop's thread: keying has begun (a shape announced, or
  // --carrier), and the channel was enabled for it. Until then the channel
  // is set up but disabled: nothing is keyed while --wait-sync waits.
  bool keying = false;
  bool enabled = false;
  bool lost = false;
  bool refusal_reported = false;
};
PwmPosix pwm;

// One edge. Nothing is read back.
void write_duty(std::int64_t duty_ns) {
  std::lock_guard<std::mutex> hold(pwm.sysfs.duty_lock);
  const int fd = pwm.sysfs.duty_fd.load();
  if (fd < 0) return;
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%lld\n", static_cast<long long>(duty_ns));
  if (!pwm_write_all(fd, text, static_cast<std::size_t>(length))) pwm.write_error.store(errno);
}

void sleep_ns(std::int64_t span_ns) {
  if (span_ns <= 0) return;
  timespec span{};
  span.tv_sec = static_cast<time_t>(span_ns / kSecondNs);
  span.tv_nsec = static_cast<long>(span_ns % kSecondNs);
  clock_nanosleep(CLOCK_MONOTONIC, 0, &span, nullptr);
}

// Runs until the process ends, looking at the clock at least every
// kLatestOnsetMs (the writer's rules say what it writes when).
void writer() {
  PwmWriter state;
  ShapeSchedule schedule;
  for (;;) {
    if (pwm.set_up_again.exchange(false)) state = PwmWriter{};
    read_schedule(schedule);
    const std::int64_t now = calendar_ns();
    const PwmStep step = next_pwm_step(state, pwm.carrier, schedule, pwm.steady.load(), now);
    if (step.write) {
      write_duty(step.duty_ns);
    } else {
      sleep_ns(step.wake_ns - now);
    }
  }
}

// On the loop's thread, whenever something is to be keyed: the channel is
// enabled the first time, and again after it was set up anew.
void key_channel() {
  pwm.keying = true;
  if (!pwm.enabled && !pwm.lost) pwm.enabled = pwm_sysfs_enable(pwm.sysfs);
}

bool check_pwm(const char* argument, std::string& error) {
  PwmChannel parsed;
  return parse_pwm_channel(argument, parsed, error);
}

bool open_pwm(const char* argument, const Station& station) {
  std::string reason;
  pwm.carrier = pwm_carrier(station);
  if (!pwm_sysfs_select(pwm.sysfs, argument, reason) ||
      !pwm_sysfs_set_up(pwm.sysfs, pwm.carrier, kExportWaitMs, false, reason)) {
    std::fprintf(stderr, "Can not open PWM %s\nkolvan: %s\n", argument, reason.c_str());
    return false;
  }
  std::fprintf(stderr, "%s\n", pwm_sysfs_describe(pwm.sysfs, station, pwm.carrier).c_str());
  if (!start_ahead_writer(writer)) {
    std::fprintf(stderr, "Can not open PWM %s\nkolvan: no thread for the writer\n", argument);
    return false;
  }
  return true;
}

void announce_pwm(std::int64_t host_second, const PulseShape& shape) {
  announce_ahead(host_second, shape);
  key_channel();
}

// Every shape was announced before its second and the writer keys it: the
// loop's own call at the second adds nothing.
void send_pwm(const PulseShape&) {}

// Once a second: a channel that vanished is reported once and set up again
// as soon as it can be; a write refused while the channel stays is
// reported once, until a second goes by without one.
void upkeep_pwm() {
  if (pwm.lost) {
    std::string reason;
    if (!pwm_sysfs_set_up(pwm.sysfs, pwm.carrier, 0, true, reason)) return;
    pwm.lost = false;
    pwm.enabled = false;
    pwm.set_up_again.store(true);
    if (pwm.keying) key_channel();
    std::fprintf(stderr, "kolvan: PWM %s: open again\n", pwm.sysfs.shown.c_str());
    return;
  }
  const int error = pwm.write_error.exchange(0);
  if (!pwm_sysfs_present(pwm.sysfs)) {
    pwm.lost = true;
    pwm_sysfs_release(pwm.sysfs);
    // Someone else took it away: it is no longer kolvan's to unexport.
    pwm_sysfs_forget_export(pwm.sysfs);
    std::fprintf(stderr, "kolvan: PWM %s: the channel is gone (%s); trying again every second\n",
                 pwm.sysfs.shown.c_str(), std::strerror(error != 0 ? error : ENOENT));
    return;
  }
  if (error == 0) {
    pwm.refusal_reported = false;
    return;
  }
  if (!pwm.refusal_reported) {
    pwm.refusal_reported = true;
    std::fprintf(stderr, "kolvan: PWM %s: duty_cycle refused a write: %s\n",
                 pwm.sysfs.shown.c_str(), std::strerror(error));
  }
}

// --carrier: the full carrier, a duty of half the period, which the writer
// writes again every second.
const char* hold_full_carrier(const Station&) {
  pwm.steady.store(true);
  key_channel();
  return "the full carrier (duty 50 %)";
}

// From the interrupt handler: plain writes on descriptors opened ahead.
void close_pwm() { pwm_sysfs_stop(pwm.sysfs); }

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
