// Where the line monitor listens: a serial device, or a virtual serial port
// (a pseudo-terminal) of its own, read at 9600 8N1 with the arrival time of
// every chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/line_monitor.h"

struct LinePort {
  int fd = -1;        // read from here
  int slave_fd = -1;  // a virtual port's other end, held open so that the line
                      // lives on while its users open and close it
  std::string path;   // the device, or the path others open the virtual port by
};

// A pseudo-terminal whose slave, at `path`, is set to 9600 8N1 raw like the
// carrier port. False (errno set) when none can be had.
bool open_virtual_line(LinePort& port);

// A device read at 9600 8N1 raw. False (errno set) when it can't be opened
// or set.
bool open_device_line(LinePort& port, const char* path);

void close_line(LinePort& port);

// Waits at most `wait_ms` for bytes, feeds what arrives to `monitor` with the
// time poll returned, then lets the monitor see the idle time. False (errno
// set, 0 for a hang-up) when the line failed; an interrupted wait is no
// failure.
bool poll_line(const LinePort& port, int wait_ms, LineMonitor& monitor,
               std::vector<LineEvent>& events);
