// The PWM channel's set-up through the kernel's sysfs PWM interface, which
// needs no root where udev gives the files to a group: export, the wait for
// udev, one kolvan per channel, period and duty before enable, and letting
// the channel go.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "carrier/pwm_sysfs.h"
#include "pacing/clock.h"

namespace {

constexpr std::uint32_t kExportPollMs = 10;

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

bool write_file(const std::string& path, const std::string& text, int& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  const bool written = pwm_write_all(fd, text.data(), text.size());
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

// "pwmchip0:1", the chip by its directory's name.
std::string channel_name(const PwmSysfs& sysfs) {
  const std::size_t slash = sysfs.channel.chip.rfind('/');
  return sysfs.channel.chip.substr(slash == std::string::npos ? 0 : slash + 1) + ":" +
         std::to_string(sysfs.channel.channel);
}

// Exports the channel when it isn't there, keeping unexport open first so
// that whatever ends kolvan can take it back.
bool export_channel(PwmSysfs& sysfs, std::string& reason) {
  const PwmChannel& channel = sysfs.channel;
  struct stat info {};
  if (stat(channel.chip.c_str(), &info) != 0) {
    reason =
        reason_for(channel.chip, errno) +
        (channel.chip.rfind(pwm_class_dir(), 0) == 0 ? "; is dtoverlay=pwm in config.txt?" : "");
    return false;
  }
  if (stat(sysfs.channel_dir.c_str(), &info) == 0) return true;
  const std::string path = in_dir(channel.chip, "export");
  int error = 0;
  // unexport is kolvan's before the export is written, so that a signal
  // right after it still takes the channel back.
  const int unexport =
      open(in_dir(channel.chip, "unexport").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  const int previous = sysfs.unexport_fd.exchange(unexport);
  if (previous >= 0) close(previous);
  if (write_file(path, sysfs.channel_line, error)) return true;
  const int not_ours = sysfs.unexport_fd.exchange(-1);
  if (not_ours >= 0) close(not_ours);
  if (error == EBUSY) {
    // Exported meanwhile by someone else, or taken by a kernel driver,
    // which leaves no pwmN directory.
    if (stat(sysfs.channel_dir.c_str(), &info) == 0) return true;
    reason = channel_name(sysfs) + " is held by the kernel (fan? backlight?): choose another " +
             "channel (kolvan --pwm=list)";
    return false;
  }
  reason = reason_for(path, error);
  if (error == EINVAL) {
    reason += " (the chip has " + std::to_string(read_number(in_dir(channel.chip, "npwm"))) +
              " channels)";
  }
  return false;
}

void unexport_if_ours(PwmSysfs& sysfs) {
  const int fd = sysfs.unexport_fd.exchange(-1);
  if (fd < 0) return;
  (void)pwm_write_all(fd, sysfs.channel_line, sysfs.channel_line_length);
  close(fd);
}

bool files_ready(const PwmSysfs& sysfs, std::uint32_t wait_ms, std::string& reason) {
  static const char* const kFiles[] = {"period", "duty_cycle", "enable"};
  for (std::uint32_t waited = 0;; waited += kExportPollMs) {
    std::string missing;
    int error = 0;
    for (const char* name : kFiles) {
      const std::string path = in_dir(sysfs.channel_dir, name);
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
bool lock_channel(PwmSysfs& sysfs, std::string& reason) {
  const int fd = open(sysfs.channel_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    reason = reason_for(sysfs.channel_dir, errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    reason = error == EWOULDBLOCK ? sysfs.shown + " is in use by another kolvan"
                                  : reason_for(sysfs.channel_dir, error);
    return false;
  }
  sysfs.lock_fd = fd;
  return true;
}

// period, duty_cycle, then enable, written 0: the channel stays quiet until
// there is something to key (pwm_sysfs_enable). The kernel refuses a duty
// longer than the period at every step, so a longer old duty is lowered
// first.
bool program_channel(PwmSysfs& sysfs, const PwmCarrier& carrier, std::string& reason) {
  const std::string period_path = in_dir(sysfs.channel_dir, "period");
  const std::string duty_path = in_dir(sysfs.channel_dir, "duty_cycle");
  const std::string enable_path = in_dir(sysfs.channel_dir, "enable");
  int error = 0;
  if (read_number(duty_path) > carrier.period_ns && !write_file(duty_path, "0\n", error)) {
    reason = reason_for(duty_path, error);
    return false;
  }
  if (!write_file(period_path, number_line(carrier.period_ns), error)) {
    reason = reason_for(period_path, error);
    return false;
  }
  const int duty = open(duty_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  const std::string rest = number_line(carrier.unkeyed_ns);
  if (duty < 0 || !pwm_write_all(duty, rest.data(), rest.size())) {
    reason = reason_for(duty_path, errno);
    if (duty >= 0) close(duty);
    return false;
  }
  sysfs.duty_fd.store(duty);
  const int enable = open(enable_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (enable < 0 || !pwm_write_all(enable, "0\n", 2)) {
    reason = reason_for(enable_path, errno);
    if (enable >= 0) close(enable);
    return false;
  }
  sysfs.enable_fd.store(enable);
  return true;
}

}  // namespace

bool pwm_write_all(int fd, const char* text, std::size_t length) {
  return write(fd, text, length) == static_cast<ssize_t>(length);
}

bool pwm_sysfs_select(PwmSysfs& sysfs, const char* argument, std::string& reason) {
  if (!parse_pwm_channel(argument, sysfs.channel, reason)) return false;
  sysfs.shown = argument;
  const std::string root = pwm_sysfs_root();
  if (sysfs.channel.gpio >= 0) {
    const PwmBoard board = read_pwm_board(root);
    std::string chip;
    if (!find_pwm_pin(board, sysfs.channel.gpio, chip, sysfs.channel.channel, reason)) {
      return false;
    }
    sysfs.channel.chip = pwm_class_dir() + "/" + chip;
    sysfs.model = board.model;
    for (const PwmBlock& block : board.blocks) {
      if (block.chip == chip) sysfs.block = block;
    }
  } else {
    sysfs.model = read_pwm_model(root);
    sysfs.block = read_pwm_chip(root, sysfs.channel.chip);
    for (std::size_t i = 0; i < sysfs.block.held_channels.size(); ++i) {
      if (sysfs.block.held_channels[i] != sysfs.channel.channel) continue;
      reason = channel_name(sysfs) + " is held by the kernel (" + sysfs.block.holders[i] +
               "): choose another channel (kolvan --pwm=list)";
      return false;
    }
  }
  sysfs.channel_dir = sysfs.channel.chip + "/pwm" + std::to_string(sysfs.channel.channel);
  sysfs.channel_line_length = static_cast<std::size_t>(
      std::snprintf(sysfs.channel_line, sizeof sysfs.channel_line, "%d\n", sysfs.channel.channel));
  return true;
}

std::string pwm_sysfs_describe(const PwmSysfs& sysfs, const Station& station,
                               const PwmCarrier& carrier) {
  if (sysfs.block.device.empty()) {
    return describe_pwm(sysfs.shown.c_str(), station, carrier, pwm_sysfs_kept_period(sysfs));
  }
  const bool pin = sysfs.channel.gpio >= 0;
  return describe_pwm_on_board(pin ? "GPIO" + std::to_string(sysfs.channel.gpio) : "",
                               channel_name(sysfs), sysfs.model, &sysfs.block, station, carrier);
}

void pwm_sysfs_release(PwmSysfs& sysfs) {
  {
    std::lock_guard<std::mutex> hold(sysfs.duty_lock);
    close_fd(sysfs.duty_fd);
  }
  close_fd(sysfs.enable_fd);
  if (sysfs.lock_fd >= 0) close(sysfs.lock_fd);
  sysfs.lock_fd = -1;
}

bool pwm_sysfs_set_up(PwmSysfs& sysfs, const PwmCarrier& carrier, std::uint32_t wait_ms,
                      bool keep_export, std::string& reason) {
  if (!export_channel(sysfs, reason)) return false;
  if (files_ready(sysfs, wait_ms, reason)) {
    if (!lock_channel(sysfs, reason)) return false;  // someone else's: never unexported
    if (program_channel(sysfs, carrier, reason)) return true;
  }
  pwm_sysfs_release(sysfs);
  if (!keep_export) unexport_if_ours(sysfs);
  return false;
}

bool pwm_sysfs_enable(PwmSysfs& sysfs) {
  const int enable = sysfs.enable_fd.load();
  return enable >= 0 && pwm_write_all(enable, "1\n", 2);
}

bool pwm_sysfs_present(const PwmSysfs& sysfs) {
  return access(in_dir(sysfs.channel_dir, "duty_cycle").c_str(), F_OK) == 0;
}

void pwm_sysfs_forget_export(PwmSysfs& sysfs) { close_fd(sysfs.unexport_fd); }

std::int64_t pwm_sysfs_kept_period(const PwmSysfs& sysfs) {
  return read_number(in_dir(sysfs.channel_dir, "period"));
}

void pwm_sysfs_stop(PwmSysfs& sysfs) {
  const int enable = sysfs.enable_fd.exchange(-1);
  if (enable >= 0) (void)pwm_write_all(enable, "0\n", 2);
  const int unexport = sysfs.unexport_fd.exchange(-1);
  if (unexport >= 0) (void)pwm_write_all(unexport, sysfs.channel_line, sysfs.channel_line_length);
}
