// How a port number becomes a device name on each platform. Both rules are
// plain functions, built everywhere, so each can be checked anywhere.
#pragma once

#include <string>

// Windows: "COM9" below 10 (negative numbers included), "\\.\COM10" from 10 on.
std::string win32_port_name(int number);

// Linux: COM1 is /dev/ttyS0, COM n is /dev/ttyS(n-1). False for n <= 0,
// which names no device.
bool posix_port_name(int number, std::string& name);
