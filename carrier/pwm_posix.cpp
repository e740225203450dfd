// The PWM pin on Linux, through the kernel's sysfs PWM interface
// (/sys/class/pwm/pwmchipN: export, unexport, pwmM/period, duty_cycle,
// enable), which needs no root where udev gives the files to a group. Each
// edge is one write of duty_cycle on a descriptor kept open, by a writer
// thread that sleeps to the edge's time on the host's real-time clock: the
// loop announces each second's shape ahead, so that the onset falls on the
// host's second itself rather than when the loop's pacer sees it begin.
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "carrier/pwm.h"
#include "carrier/tone.h"
#include "pacing/clock.h"
#include "pacing/pacer.h"

namespace {

// udev sets the group of a channel's files only after they appear.
constexpr std::uint32_t kExportWaitMs = 2000;
constexpr std::uint32_t kExportPollMs = 10;

PwmChannel channel;
std::string shown;        // as given: "pwmchip0:0"
std::string channel_dir;  // the chip's pwmN
PwmCarrier carrier;
char channel_line[16];  // "N\n", for export and unexport
std::size_t channel_line_length = 0;

std::atomic<int> duty_fd{-1};
std::atomic<int> enable_fd{-1};
// Open while the channel is exported by kolvan itself, so that the
// interrupt handler can unexport it with one write.
std::atomic<int> unexport_fd{-1};
int lock_fd = -1;

constexpr std::int64_t kNsPerSecond = 1000000000;

// The shapes announced for the coming host seconds.
std::mutex schedule_lock;
ToneSchedule schedule;  // under schedule_lock

// Held for each write of duty_cycle, so that the writer, --carrier and a
// channel being let go never cross.
std::mutex duty_lock;

// Faults: the last write's error, seen by whichever thread wrote, reported
// by the upkeep on the loop's thread.
std::atomic<int> write_error{0};
bool lost = false;
bool refusal_reported = false;

std::string in_dir(const std::string& dir, const char* name) { return dir + "/" + name; }

// The system's text for a failure on `path`, and who may write it when
// permission was refused.
std::string reason_for(const std::string& path, int error) {
  std::string text = path + ": " + std::strerror(error);
  if (error != EACCES && error != EPERM) return text;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return text;
  const group* owner = getgrgid(info.st_gid);
  if (info.st_gid != 0 && owner != nullptr && (info.st_mode & S_IWGRP) != 0) {
    return text + "; its group " + owner->gr_name + " may write it: add your user to that group";
  }
  return text + "; only root may write it: on Raspberry Pi OS udev gives it to the gpio group";
}

bool write_all(int fd, const char* text, std::size_t length) {
  return write(fd, text, length) == static_cast<ssize_t>(length);
}

bool write_file(const std::string& path, const std::string& text, int& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  const bool written = write_all(fd, text.data(), text.size());
  error = written ? 0 : errno;
  close(fd);
  return written;
}

// A number a sysfs file holds; 0 when there is none to read.
std::int64_t read_number(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t length = read(fd, text, sizeof text - 1);
  close(fd);
  return length > 0 ? std::atoll(text) : 0;
}

std::string number_line(std::int64_t value) { return std::to_string(value) + "\n"; }

void close_fd(std::atomic<int>& fd) {
  const int old = fd.exchange(-1);
  if (old >= 0) close(old);
}

// One edge; called with duty_lock held. Nothing is read back.
void write_duty(std::int64_t duty_ns) {
  const int fd = duty_fd.load();
  if (fd < 0) return;
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%lld\n", static_cast<long long>(duty_ns));
  if (!write_all(fd, text, static_cast<std::size_t>(length))) write_error.store(errno);
}

// Exports the channel when it isn't there, keeping unexport open first so
// that whatever ends kolvan can take it back.
bool export_channel(std::string& reason) {
  struct stat info {};
  if (stat(channel.chip.c_str(), &info) != 0) {
    reason = reason_for(channel.chip, errno) +
             (channel.chip.rfind(kPwmClassDir, 0) == 0 ? "; is dtoverlay=pwm in config.txt?" : "");
    return false;
  }
  if (stat(channel_dir.c_str(), &info) == 0) return true;
  const std::string path = in_dir(channel.chip, "export");
  int error = 0;
  const int unexport = open(in_dir(channel.chip, "unexport").c_str(), O_WRONLY | O_CLOEXEC);
  if (write_file(path, channel_line, error)) {
    const int previous = unexport_fd.exchange(unexport);
    if (previous >= 0) close(previous);
    return true;
  }
  if (unexport >= 0) close(unexport);
  if (error == EBUSY) return true;  // exported meanwhile by someone else
  reason = reason_for(path, error);
  if (error == EINVAL) {
    reason += " (the chip has " + std::to_string(read_number(in_dir(channel.chip, "npwm"))) +
              " channels)";
  }
  return false;
}

void unexport_if_ours() {
  const int fd = unexport_fd.exchange(-1);
  if (fd < 0) return;
  (void)write_all(fd, channel_line, channel_line_length);
  close(fd);
}

bool files_ready(std::uint32_t wait_ms, std::string& reason) {
  static const char* const kFiles[] = {"period", "duty_cycle", "enable"};
  for (std::uint32_t waited = 0;; waited += kExportPollMs) {
    std::string missing;
    int error = 0;
    for (const char* name : kFiles) {
      const std::string path = in_dir(channel_dir, name);
      if (access(path.c_str(), W_OK) != 0) {
        missing = path;
        error = errno;
        break;
      }
    }
    if (missing.empty()) return true;
    if (waited >= wait_ms) {
      reason = reason_for(missing, error);
      return false;
    }
    sleep_ms(kExportPollMs);
  }
}

// One kolvan per channel: a lock on the channel's directory, which goes
// with the process.
bool lock_channel(std::string& reason) {
  const int fd = open(channel_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    reason = reason_for(channel_dir, errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    reason = error == EWOULDBLOCK ? shown + " is in use by another kolvan"
                                  : reason_for(channel_dir, error);
    return false;
  }
  lock_fd = fd;
  return true;
}

// period, duty_cycle, then enable; the kernel refuses a duty longer than
// the period at every step, so a longer old duty is lowered first.
bool program_channel(std::string& reason) {
  const std::string period_path = in_dir(channel_dir, "period");
  const std::string duty_path = in_dir(channel_dir, "duty_cycle");
  const std::string enable_path = in_dir(channel_dir, "enable");
  int error = 0;
  if (read_number(duty_path) > carrier.period_ns && !write_file(duty_path, "0\n", error)) {
    reason = reason_for(duty_path, error);
    return false;
  }
  if (!write_file(period_path, number_line(carrier.period_ns), error)) {
    reason = reason_for(period_path, error);
    return false;
  }
  const int duty = open(duty_path.c_str(), O_WRONLY | O_CLOEXEC);
  const std::string rest = number_line(carrier.unkeyed_ns);
  if (duty < 0 || !write_all(duty, rest.data(), rest.size())) {
    reason = reason_for(duty_path, errno);
    if (duty >= 0) close(duty);
    return false;
  }
  duty_fd.store(duty);
  const int enable = open(enable_path.c_str(), O_WRONLY | O_CLOEXEC);
  if (enable < 0 || !write_all(enable, "1\n", 2)) {
    reason = reason_for(enable_path, errno);
    if (enable >= 0) close(enable);
    return false;
  }
  enable_fd.store(enable);
  return true;
}

void release_channel() {
  {
    std::lock_guard<std::mutex> hold(duty_lock);
    close_fd(duty_fd);
  }
  close_fd(enable_fd);
  if (lock_fd >= 0) close(lock_fd);
  lock_fd = -1;
}

// Everything from export to enable. On failure nothing is left open; a
// channel kolvan exported is unexported again unless `keep_export` (the
// next attempt a second later finds it and waits no longer).
bool set_up_channel(std::uint32_t wait_ms, bool keep_export, std::string& reason) {
  if (!export_channel(reason)) return false;
  if (files_ready(wait_ms, reason)) {
    if (!lock_channel(reason)) return false;  // someone else's: never unexported
    if (program_channel(reason)) return true;
  }
  release_channel();
  if (!keep_export) unexport_if_ours();
  return false;
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
        std::lock_guard<std::mutex> hold(duty_lock);
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
  if (!parse_pwm_channel(argument, channel, reason)) return false;
  shown = argument;
  carrier = pwm_carrier(station);
  channel_dir = channel.chip + "/pwm" + std::to_string(channel.channel);
  channel_line_length = static_cast<std::size_t>(
      std::snprintf(channel_line, sizeof channel_line, "%d\n", channel.channel));
  if (!set_up_channel(kExportWaitMs, false, reason)) {
    std::fprintf(stderr, "Can not open PWM %s\nkolvan: %s\n", argument, reason.c_str());
    return false;
  }
  const std::int64_t kept = read_number(in_dir(channel_dir, "period"));
  std::fprintf(stderr, "%s\n", describe_pwm(argument, station, carrier, kept).c_str());
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
    if (!set_up_channel(0, true, reason)) return;
    lost = false;
    std::fprintf(stderr, "kolvan: PWM %s: open again\n", shown.c_str());
    return;
  }
  const int error = write_error.exchange(0);
  if (error == 0) {
    refusal_reported = false;
    return;
  }
  if (access(in_dir(channel_dir, "duty_cycle").c_str(), F_OK) != 0) {
    lost = true;
    release_channel();
    // Someone else took it away: it is no longer kolvan's to unexport.
    close_fd(unexport_fd);
    std::fprintf(stderr, "kolvan: PWM %s: the channel is gone (%s); trying again every second\n",
                 shown.c_str(), std::strerror(error));
    return;
  }
  if (!refusal_reported) {
    refusal_reported = true;
    std::fprintf(stderr, "kolvan: PWM %s: duty_cycle refused a write: %s\n", shown.c_str(),
                 std::strerror(error));
  }
}

// --carrier: the full carrier, a duty of half the period, written once and
// then held by the hardware.
const char* hold_full_carrier(const Station&) {
  static bool held = false;
  if (!held) {
    std::lock_guard<std::mutex> hold(duty_lock);
    write_duty(carrier.period_ns / 2);
    held = true;
  }
  return "the full carrier (duty 50 %)";
}

// From the interrupt handler: plain writes on descriptors opened ahead.
void close_pwm() {
  const int enable = enable_fd.exchange(-1);
  if (enable >= 0) (void)write_all(enable, "0\n", 2);
  const int unexport = unexport_fd.exchange(-1);
  if (unexport >= 0) (void)write_all(unexport, channel_line, channel_line_length);
}

constexpr CarrierOutput pwm_row() {
  CarrierOutput row = pwm_row_words();
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
