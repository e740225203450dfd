// The PWM channel's set-up through the kernel's sysfs PWM interface
// (/sys/class/pwm/pwmchipN: export, unexport, pwmM/period, duty_cycle,
// enable): finding the channel, exporting it, waiting for udev, locking,
// programming and letting it go. Linux only (pwm_sysfs_posix.cpp); the
// writer and the row are in pwm_posix.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "carrier/pwm.h"
#include "carrier/pwm_board.h"

// udev sets the group of a channel's files only after they appear.
constexpr std::uint32_t kExportWaitMs = 2000;

// One channel's files and descriptors.
struct PwmSysfs {
  PwmChannel channel;
  std::string shown;           // as given: "pwmchip0:0", "GPIO18"
  std::string channel_dir;     // the chip's pwmN
  std::string model;           // the board's, from the device tree
  PwmBlock block;              // the chip's block, from the device tree
  char channel_line[16] = {};  // "N\n", for export and unexport
  std::size_t channel_line_length = 0;

  std::atomic<int> duty_fd{-1};
  std::atomic<int> enable_fd{-1};
  // Open while the channel is exported by kolvan itself, so that the
  // interrupt handler can unexport it with one write.
  std::atomic<int> unexport_fd{-1};
  int lock_fd = -1;

  // Held for each write of duty_cycle, so that the writer, --carrier and a
  // channel being let go never cross.
  std::mutex duty_lock;
};

// Reads the argument, finds a pin's chip and channel on the board, and
// names the channel's files; false with `reason` (a missing overlay, a pin
// the device tree gave no PWM, a channel a kernel driver holds).
bool pwm_sysfs_select(PwmSysfs& sysfs, const char* argument, std::string& reason);

// The start-up line: the pin, chip and board where the device tree says,
// the frequency the block makes and the reduced level's duty.
std::string pwm_sysfs_describe(const PwmSysfs& sysfs, const Station& station,
                               const PwmCarrier& carrier);

// Everything from export to enable, at `carrier`'s period and unkeyed duty,
// the channel left disabled (sysfs files are opened with O_NONBLOCK: no
// open or write waits on them, not even the interrupt handler's).
// On failure nothing is left open; a channel kolvan exported is unexported
// again unless `keep_export` (the next attempt a second later finds it and
// waits no longer).
bool pwm_sysfs_set_up(PwmSysfs& sysfs, const PwmCarrier& carrier, std::uint32_t wait_ms,
                      bool keep_export, std::string& reason);

// Enables the channel set up: its carrier goes out. False when it can't.
bool pwm_sysfs_enable(PwmSysfs& sysfs);

// Closes duty_cycle (under duty_lock), enable and the lock.
void pwm_sysfs_release(PwmSysfs& sysfs);

// Whether the channel's duty_cycle is still there.
bool pwm_sysfs_present(const PwmSysfs& sysfs);

// Someone else took the channel away: it is no longer kolvan's to unexport.
void pwm_sysfs_forget_export(PwmSysfs& sysfs);

// The period the kernel kept; 0 when there is none to read.
std::int64_t pwm_sysfs_kept_period(const PwmSysfs& sysfs);

// From the interrupt handler: plain writes on descriptors opened ahead.
void pwm_sysfs_stop(PwmSysfs& sysfs);

// One write of all of `text`.
bool pwm_write_all(int fd, const char* text, std::size_t length);
