// The line monitor's input on POSIX: a pseudo-terminal or a serial device,
// polled, each chunk stamped with the real-time clock as poll returns.
#include "monitor/line_port.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include "carrier/serial_line.h"
#include "pacing/clock.h"

namespace {

constexpr int kBaud = 9600;

bool set_flags(int fd) {
  const int status = fcntl(fd, F_GETFL);
  const int descriptor = fcntl(fd, F_GETFD);
  return status >= 0 && descriptor >= 0 && fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
         fcntl(fd, F_SETFD, descriptor | FD_CLOEXEC) == 0;
}

}  // namespace

bool open_virtual_line(LinePort& port) {
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
  if (!set_flags(master) || fcntl(slave, F_SETFD, FD_CLOEXEC) != 0 ||
      !configure_serial_line(slave, kBaud)) {
    const int error = errno;
    close(master);
    close(slave);
    errno = error;
    return false;
  }
  port.fd = master;
  port.slave_fd = slave;
  port.path = name;
  return true;
}

bool open_device_line(LinePort& port, const char* path) {
  const int fd = open_serial_reader(path, kBaud);
  if (fd < 0) return false;
  port.fd = fd;
  port.slave_fd = -1;
  port.path = path;
  return true;
}

void close_line(LinePort& port) {
  if (port.fd >= 0) close(port.fd);
  if (port.slave_fd >= 0) close(port.slave_fd);
  port.fd = port.slave_fd = -1;
}

bool poll_line(const LinePort& port, int wait_ms, LineMonitor& monitor,
               std::vector<LineEvent>& events) {
  pollfd ready{port.fd, POLLIN, 0};
  const int polled = poll(&ready, 1, wait_ms);
  const std::int64_t arrival = calendar_ns() / 1000;
  if (polled < 0) return errno == EINTR;
  if (polled > 0) {
    unsigned char buffer[4096];
    const ssize_t n = read(port.fd, buffer, sizeof buffer);
    if (n > 0) {
      monitor.feed(buffer, static_cast<std::size_t>(n), arrival, events);
    } else if (n == 0) {
      errno = 0;  // hung up
      return false;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return false;
    }
  }
  monitor.idle(calendar_ns() / 1000, events);
  return true;
}
