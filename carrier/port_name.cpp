// How a port number becomes a device name: the Windows COM names and the
// Linux /dev/ttyS names. Pure functions, built on every platform.
#include "carrier/port_name.h"

std::string win32_port_name(int number) {
  // From COM10 on, Windows reaches the port only through the device
  // namespace, "\\.\COM10".
  const char* prefix = number < 10 ? "COM" : "\\\\.\\COM";
  return prefix + std::to_string(number);
}

bool posix_port_name(int number, std::string& name) {
  if (number <= 0) return false;
  name = "/dev/ttyS" + std::to_string(number - 1);
  return true;
}
