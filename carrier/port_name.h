// How a port argument becomes a device name on each platform. The rules are
// plain functions, built everywhere, so each can be checked anywhere.
#pragma once

#include <string>

// Windows: "COM9" below 10 (negative numbers included), "\\.\COM10" from 10 on.
std::string win32_port_name(int number);

// Linux: COM1 is /dev/ttyS0, COM n is /dev/ttyS(n-1). False for n <= 0,
// which names no device.
bool posix_port_name(int number, std::string& name);

// Linux: whether a port argument without a '/' may be read as a port
// number: only when it is all decimal digits, so that a typo ("1O", "+1",
// "ttyUSB0") never keys the machine's console port. False with `reason`,
// the line that says what to give instead.
bool posix_port_number_argument(const char* argument, std::string& reason);

// Whether "add your user to the GROUP group" is advice worth giving for a
// serial device of that group: not for the system's groups (root, shadow,
// kmem, disk, tty), whose members can read far more than a port.
bool group_worth_joining(const std::string& group);

// A port number as the command line gives it: what atoi reads (leading
// white space, an optional sign, decimal digits up to the first non-digit,
// 0 without digits), saturated to the range of a 32-bit int instead of
// overflowing.
int parse_int(const char* text);
