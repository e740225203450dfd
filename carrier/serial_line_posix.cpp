// The serial line's settings on POSIX: termios, raw, 8N1, no flow control,
// at one of the classic rates.
#include "carrier/serial_line.h"

#include <cerrno>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

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

}  // namespace

bool serial_rate_known(int baud) {
  speed_t speed;
  return speed_for(baud, speed);
}

bool configure_serial_line(int fd, int baud) {
  speed_t speed;
  if (!speed_for(baud, speed)) return false;
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
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
