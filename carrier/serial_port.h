// The serial port: the one port of the process, whose transmit line
// carries each symbol as a run of zero bytes; 960 of them last one second at
// 9600 baud 8N1. Its device, one file per platform (serial_port_posix.cpp,
// serial_port_win32.cpp) keeping its state in one struct; its row of the
// ways out in serial_port.cpp.
#pragma once

#include <string>

#include "carrier/carrier_output.h"
#include "stations/station.h"

// The serial port's row: also the way out the verbs of carrier_output.h
// drive until main opens one, so that what links only the port keys it.
extern const CarrierOutput kSerialOutput;

// Opens the numbered port exclusively and sets it to `baud`, 8N1, binary,
// no flow control, DTR and RTS off. False when it can't be opened or set.
bool open_carrier_port(int number, int baud);

// Whether a command-line argument that names no device path may be read as
// a port number here. When not, nothing is opened and carrier_open_error()
// says why. Linux takes only all-digit numbers, so that a typo never keys
// the console's port; Windows takes what atoi reads ("abc" is 0), so that
// a Windows command line without options keys the port it names there
// (scripts/wine-messages.sh).
bool accepts_port_number(const char* argument);

// As open_carrier_port, for a device given by its path.
bool open_carrier_device(const char* path, int baud);

// Why the last open failed, for a line on standard error: the device and
// the system's reason, with what to do where that helps ("/dev/ttyUSB0:
// Permission denied; add your user to the dialout group"). Empty when the
// argument named no device at all.
std::string carrier_open_error();

// True when the port's device vanished (a USB adapter unplugged or reset):
// the port was closed by that fault, reported once, and not opened since.
bool carrier_port_lost();

// One attempt to open the lost port's device again, with the same settings
// and exclusivity. Says so on standard error ("kolvan: /dev/ttyUSB0: open
// again") and returns true when it is open again; false, silently, when it
// is still missing. The loop calls it once a second while the port is lost.
bool reopen_carrier_port();

// True when a command-line argument names a device by path on this platform
// rather than a port number.
bool names_carrier_device(const char* argument);

// Queues one second's keying on the port: zero bytes for its keyed runs,
// 0xFF bytes for the unkeyed run between them. Returns at once; does nothing
// when the port is closed or the shape is empty. A pulse goes on the line
// whole or not at all: one that can't (the queue still busy or full) is
// dropped and that is said once on standard error; a device that vanished
// is reported once and the port counts as lost.
void send_pulse(const PulseShape& shape);

// For a steady carrier: characters handed to the port and not yet on the
// line (0 when it can't tell), and `count` more zero bytes (the line at
// space) queued behind them at once, up to 256.
int carrier_queued_chars();
void send_zero_bytes(int count);

// Closes the port if it is open; safe to call again, and from the
// interrupt handler.
void close_carrier_port();
