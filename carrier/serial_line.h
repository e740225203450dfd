// A terminal device set to the carrier's line, 8N1 raw without flow control:
// the one set-up shared by the carrier port, which writes it, and the line
// monitor, which reads it. POSIX only.
#pragma once

// True when `baud` is a rate the line can be set to (1200 to 38400).
bool serial_rate_known(int baud);

// Sets an open terminal device to `baud`, 8N1, raw, no flow control. False
// when it can't be set.
bool configure_serial_line(int fd, int baud);

// Opens a device for reading, non-blocking, set as configure_serial_line
// does; not held exclusively. The descriptor, or -1 with errno set.
int open_serial_reader(const char* path, int baud);
