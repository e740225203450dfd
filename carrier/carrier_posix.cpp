// The carrier port on POSIX systems: a terminal device held exclusively, set
// raw to 8N1 without flow control and with DTR and RTS off, whose transmit
// line is keyed by non-blocking writes of zero bytes.
#include "carrier/carrier.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "carrier/port_name.h"
#include "carrier/pulse_bytes.h"

namespace {

// The open port, or -1. The interrupt handler takes it with an exchange, so
// it must be a lock-free atomic.
std::atomic<int> port_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free,
              "the port descriptor is taken in a signal handler");

unsigned char pulse_buffer[4096];
unsigned char shaped_buffer[4096];  // the pulse being sent
std::string device_name;      // for the message when writes fail
bool writes_failing = false;  // the failure has been reported

bool speed_for(int baud, speed_t& speed) {
  struct Rate {
    int baud;
    speed_t speed;
  };
  static const Rate rates[] = {{1200, B1200},   {2400, B2400},
                               {4800, B4800},   {9600, B9600},
                               {19200, B19200}, {38400, B38400}};
  for (const Rate& rate : rates) {
    if (rate.baud == baud) {
      speed = rate.speed;
      return true;
    }
  }
  return false;
}

// Opens the device and takes it for this process alone. The lock comes first,
// so that a failed attempt never marks a device that someone else holds.
// TIOCEXCL keeps out other openers except root; the lock keeps out another
// copy of this program even when it runs as root.
int open_exclusive(const char* path) {
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
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

bool set_line(int fd, speed_t speed) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// A device without modem lines, such as a pseudo-terminal, refuses the
// request with ENOTTY or EINVAL; that is no reason to refuse the device.
bool drop_modem_lines(int fd) {
  const int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIC, &lines) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

// Makes a configured device the port of the process.
void adopt(int fd, const char* path) {
  std::memset(pulse_buffer, 0, sizeof pulse_buffer);
  device_name = path;
  writes_failing = false;
  const int previous = port_fd.exchange(fd);
  if (previous >= 0) release(previous);
}

// A write error other than a full queue means the device is gone or broken:
// say so once, not at every second.
void note_write_error(int fd, int error) {
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) return;
  if (port_fd.load() != fd) return;  // closed under us by the interrupt
  if (writes_failing) return;
  writes_failing = true;
  std::fprintf(stderr, "kolvan: %s: %s\n", device_name.c_str(), std::strerror(error));
}

}  // namespace

bool open_carrier_port(int number, int baud) {
  std::string path;
  if (!posix_port_name(number, path)) return false;
  return open_carrier_device(path.c_str(), baud);
}

bool open_carrier_device(const char* path, int baud) {
  speed_t speed;
  if (path == nullptr || !speed_for(baud, speed)) return false;
  const int fd = open_exclusive(path);
  if (fd < 0) return false;
  if (!set_line(fd, speed) || !drop_modem_lines(fd)) {
    release(fd);
    return false;
  }
  adopt(fd, path);
  return true;
}

bool configure_serial_line(int fd, int baud) {
  speed_t speed;
  return speed_for(baud, speed) && set_line(fd, speed);
}

int open_serial_reader(const char* path, int baud) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  const int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  errno = 0;
  if (!configure_serial_line(fd, baud)) {
    const int error = errno != 0 ? errno : EINVAL;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool names_carrier_device(const char* argument) {
  return argument != nullptr && std::strchr(argument, '/') != nullptr;
}

namespace {

// One non-blocking write: when the queue is full the pulse is dropped rather
// than waited for.
void write_pulse(const unsigned char* bytes, int count) {
  const int fd = port_fd.load();
  if (fd < 0 || count <= 0) return;
  const size_t length = count < static_cast<int>(sizeof pulse_buffer)
                            ? static_cast<size_t>(count)
                            : sizeof pulse_buffer;
  if (write(fd, bytes, length) >= 0) {
    writes_failing = false;
    return;
  }
  note_write_error(fd, errno);
}

}  // namespace

void send_pulse(int count) { write_pulse(pulse_buffer, count); }

// Each second's bytes are laid out afresh (a few hundred at most), in a
// buffer of their own so that the zero buffer stays all zero.
void send_pulse(const PulseShape& shape) {
  write_pulse(shaped_buffer, fill_pulse_bytes(shape, shaped_buffer, sizeof shaped_buffer));
}

// Runs in the interrupt handler: no allocation, no stdio. Pending output is
// discarded so that the close doesn't wait for the driver to drain it.
void close_carrier_port() {
  const int fd = port_fd.exchange(-1);
  if (fd < 0) return;
  tcflush(fd, TCOFLUSH);
  release(fd);
}
