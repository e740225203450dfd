// The carrier port on POSIX systems: a terminal device held exclusively, set
// raw to 8N1 without flow control and with DTR and RTS off, whose transmit
// line is keyed by non-blocking writes of zero bytes. A pulse goes on the
// line whole or not at all; a device that vanishes is opened again when the
// same device is back (never a pseudo-terminal).
#include "carrier/serial_port.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "base/escaped_name.h"
#include "base/sysfs_root.h"
#include "carrier/device_identity.h"
#include "carrier/port_name.h"
#include "carrier/pulse_bytes.h"
#include "carrier/serial_line.h"

namespace {

// The one port of the process: everything the device half knows.
struct SerialPort {
  // The open port, or -1. The interrupt handler takes it with an exchange,
  // so it must be a lock-free atomic.
  std::atomic<int> fd{-1};
  unsigned char shaped[4096];  // the pulse being sent
  std::string name;            // for the messages, and to open it again
  int baud = 9600;
  bool lost = false;           // the device vanished; it is opened again once a second
  bool dropping = false;       // pulses are being dropped on a full queue; said once
  std::string open_error;      // why the last open failed
  DeviceIdentity identity;     // the device opened, to know it when it is back
  bool refusal_said = false;   // that what came back is not it, said once
};
static_assert(std::atomic<int>::is_always_lock_free,
              "the port descriptor is taken in a signal handler");

SerialPort port;

// The group to join after a refused open: a character device's own, unless
// it is a system group; "" when no group would help.
std::string group_to_join(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISCHR(info.st_mode)) return "";
  const group* owner = getgrgid(info.st_gid);
  if (owner == nullptr || !group_worth_joining(owner->gr_name)) return "";
  return owner->gr_name;
}

// The reason for a failed open, with what to do about it where that helps.
void note_open_error(const char* path, int error) {
  port.open_error = escaped_name(path);
  if (error == EBUSY || error == EWOULDBLOCK) {
    port.open_error += " is held by another program";
    return;
  }
  port.open_error += std::string(": ") + std::strerror(error);
  const std::string group = error == EACCES || error == EPERM ? group_to_join(path) : "";
  if (!group.empty()) {
    port.open_error += "; add your user to the " + group + " group";
  } else if (error == ENOTTY) {
    port.open_error += "; it is not a serial port";
  }
}

// Opens the device and takes it for this process alone. The lock comes first,
// so that a failed attempt never marks a device that someone else holds.
// TIOCEXCL keeps out other openers except root; the lock keeps out another
// copy of this program even when it runs as root.
int open_exclusive(const char* path) {
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    note_open_error(path, errno);
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    note_open_error(path, errno);
    close(fd);
    return -1;
  }
  return fd;
}

// Gives the device up: clears its exclusive mode and closes it, which also
// releases the lock. Async-signal-safe.
void release(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

// A device without modem lines, such as a pseudo-terminal, refuses the
// request with ENOTTY or EINVAL; that is no reason to refuse the device.
bool drop_modem_lines(int fd) {
  const int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIC, &lines) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

// Opens the device exclusively and sets its line; -1, with the reason noted,
// when either fails.
int open_configured(const char* path, int baud) {
  const int fd = open_exclusive(path);
  if (fd < 0) return -1;
  errno = 0;
  if (!configure_serial_line(fd, baud) || !drop_modem_lines(fd)) {
    note_open_error(path, errno != 0 ? errno : EINVAL);
    release(fd);
    return -1;
  }
  return fd;
}

// The first line of a sysfs attribute, or "".
std::string sysfs_value(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return "";
  char line[128] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  std::string value = read ? line : "";
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
  return value;
}

// A character device's identity: its number, and for a USB adapter the
// vendor, product and serial of the USB device above it in sysfs, that
// device's name (its USB port: "1-1.2") and the interface below it.
DeviceIdentity identity_of(dev_t device) {
  DeviceIdentity identity;
  identity.number = static_cast<std::uint64_t>(major(device)) << 32 | minor(device);
  identity.pseudo_terminal = pseudo_terminal_major(major(device));
  const std::string sys = sysfs_root();
  const std::string link =
      sys + "/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char* real = realpath(link.c_str(), nullptr);
  if (real == nullptr) return identity;
  std::string dir = real;
  std::free(real);
  char* devices = realpath((sys + "/devices").c_str(), nullptr);
  const std::string top = devices != nullptr ? std::string(devices) + "/" : sys + "/devices/";
  std::free(devices);
  std::string below;
  while (dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
    if (access((dir + "/idVendor").c_str(), R_OK) == 0) {
      identity.usb = true;
      identity.vendor = sysfs_value(dir + "/idVendor");
      identity.product = sysfs_value(dir + "/idProduct");
      identity.serial = sysfs_value(dir + "/serial");
      identity.usb_port = dir.substr(dir.rfind('/') + 1);
      if (!below.empty()) identity.interface_number = sysfs_value(below + "/bInterfaceNumber");
      break;
    }
    below = dir;
    dir.erase(dir.rfind('/'));
  }
  return identity;
}

// Makes a configured device the port of the process.
void adopt(int fd, const char* path, int baud) {
  port.name = path;
  port.baud = baud;
  port.lost = false;
  port.dropping = false;
  const int previous = port.fd.exchange(fd);
  if (previous >= 0) release(previous);
}

// A write error other than a full queue means the device is gone or broken
// (an adapter pulled out gives EIO): say so once, give the device up, and
// leave it to the loop to open it again.
void note_write_error(int fd, int error) {
  if (port.fd.load() != fd) return;  // closed under us by the interrupt
  if (!port.fd.compare_exchange_strong(fd, -1)) return;
  release(fd);
  port.lost = true;
  std::fprintf(stderr, "kolvan: %s: %s\n", escaped_name(port.name).c_str(), std::strerror(error));
}

// A pulse dropped, or cut short and taken back, on a full queue: said once
// for each run of such seconds.
void note_dropped_pulse() {
  if (port.dropping) return;
  port.dropping = true;
  std::fprintf(stderr, "kolvan: %s: the port's queue is full; pulses are dropped until it drains\n",
               escaped_name(port.name).c_str());
}

}  // namespace

bool open_carrier_port(int number, int baud) {
  port.open_error.clear();
  std::string path;
  if (!posix_port_name(number, path)) return false;
  return open_carrier_device(path.c_str(), baud);
}

bool open_carrier_device(const char* path, int baud) {
  port.open_error.clear();
  if (path == nullptr || !serial_rate_known(baud)) return false;
  const int fd = open_configured(path, baud);
  if (fd < 0) return false;
  struct stat info {};
  port.identity = fstat(fd, &info) == 0 ? identity_of(info.st_rdev) : DeviceIdentity{};
  adopt(fd, path, baud);
  return true;
}

bool accepts_port_number(const char* argument) {
  port.open_error.clear();
  return posix_port_number_argument(argument, port.open_error);
}

std::string carrier_open_error() { return port.open_error; }

// A hang-up (an adapter pulled out, the far end of a pseudo-terminal gone)
// is seen here at once, without waiting for the next pulse's write.
bool carrier_port_lost() {
  const int fd = port.fd.load();
  pollfd state{fd, 0, 0};
  if (fd >= 0 && poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLERR)) != 0) {
    note_write_error(fd, EIO);
  }
  return port.lost && port.fd.load() < 0;
}

// Once, that the lost device won't be opened again, or not yet.
void refuse_reopening(const std::string& why) {
  if (port.refusal_said) return;
  port.refusal_said = true;
  std::fprintf(stderr, "kolvan: %s: %s\n", escaped_name(port.name).c_str(), why.c_str());
}

// The lost device is looked at before it is opened: opening someone else's
// terminal would already take it from them (exclusive mode, raw settings).
bool reopen_carrier_port() {
  if (!carrier_port_lost()) return false;
  if (port.identity.pseudo_terminal) {
    refuse_reopening("a pseudo-terminal is not opened again (its number goes to the next "
                     "terminal opened); start kolvan again on the new one");
    return false;
  }
  if (!can_be_told_apart(port.identity)) {
    refuse_reopening("the " + describe_device(port.identity) +
                     " can't be told from another of its kind, so it is not opened again; "
                     "start kolvan again once it is back");
    return false;
  }
  struct stat info {};
  if (stat(port.name.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const DeviceIdentity now = identity_of(info.st_rdev);
  if (!same_device(port.identity, now)) {
    refuse_reopening(describe_device(now) + " is there now, not the " +
                     describe_device(port.identity) + " that was lost; waiting for that one");
    return false;
  }
  const int fd = open_configured(port.name.c_str(), port.baud);
  if (fd < 0) return false;
  // Swapped between the look and the open: try again next second.
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || opened.st_rdev != info.st_rdev) {
    release(fd);
    return false;
  }
  const std::string path = port.name;
  port.refusal_said = false;
  adopt(fd, path.c_str(), port.baud);
  std::fprintf(stderr, "kolvan: %s: open again\n", escaped_name(port.name).c_str());
  return true;
}

bool names_carrier_device(const char* argument) {
  return argument != nullptr && std::strchr(argument, '/') != nullptr;
}

namespace {

std::int64_t monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A driver that took only part of a pulse gets the rest as soon as it has
// room, before the part it took has gone out (half of that part's time, at
// most 0.5 s), so that the run on the line has no hole. When it has no room
// in time, what it still holds is thrown away: a missing second, not a
// shorter symbol. False when the pulse could not be completed.
bool complete_pulse(int fd, const unsigned char* bytes, size_t length, size_t done) {
  const std::int64_t budget = std::min<std::int64_t>(
      500, static_cast<std::int64_t>(done) * 1000 / kLineCharsPerSecond / 2);
  const std::int64_t deadline = monotonic_ms() + budget;
  while (done < length) {
    const std::int64_t left = deadline - monotonic_ms();
    pollfd ready{fd, POLLOUT, 0};
    if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t n = write(fd, bytes + done, length - done);
    if (n > 0) done += static_cast<size_t>(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
  }
  if (done == length) return true;
  tcflush(fd, TCOFLUSH);
  return false;
}

// One non-blocking write onto an empty queue. Bytes still queued at the
// start of a second belong to an earlier pulse, and anything added would go
// out late and run into it: the pulse is dropped instead, as it is when the
// driver takes nothing.
void write_pulse(const unsigned char* bytes, int count) {
  const int fd = port.fd.load();
  if (fd < 0 || count <= 0) return;
  const size_t length = count < static_cast<int>(sizeof port.shaped)
                            ? static_cast<size_t>(count)
                            : sizeof port.shaped;
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
    note_dropped_pulse();
    return;
  }
  const ssize_t n = write(fd, bytes, length);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      note_dropped_pulse();
    } else {
      note_write_error(fd, errno);
    }
    return;
  }
  if (static_cast<size_t>(n) == length ||
      complete_pulse(fd, bytes, length, static_cast<size_t>(n))) {
    port.dropping = false;
    return;
  }
  note_dropped_pulse();
}

}  // namespace

// Each second's bytes are laid out afresh (a few hundred at most), in a
// buffer of their own so that the zero buffer stays all zero.
void send_pulse(const PulseShape& shape) {
  write_pulse(port.shaped, fill_pulse_bytes(shape, port.shaped, sizeof port.shaped));
}

int carrier_queued_chars() {
  const int fd = port.fd.load();
  int queued = 0;
  if (fd < 0 || ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

void send_zero_bytes(int count) {
  static const unsigned char zeros[256] = {};
  const int fd = port.fd.load();
  if (fd < 0 || count <= 0) return;
  const ssize_t n = write(fd, zeros, static_cast<size_t>(std::min(count, 256)));
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) note_write_error(fd, errno);
}

// Runs in the interrupt handler: no allocation, no stdio. Pending output is
// discarded so that the close doesn't wait for the driver to drain it.
void close_carrier_port() {
  const int fd = port.fd.exchange(-1);
  if (fd < 0) return;
  tcflush(fd, TCOFLUSH);
  release(fd);
}
