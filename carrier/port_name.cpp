// How a port number becomes a device name: the Windows COM names and the
// Linux /dev/ttyS names. Pure functions, built on every platform.
#include "carrier/port_name.h"

std::string win32_port_name(int number) {
  // From COM10 on, Windows reaches the port only through the device
  // namespace, "\\.\COM10".
  const char* prefix = number < 10 ? "COM" : "\\\\.\\COM";
  return prefix + std::to_string(number);
}

bool posix_port_number_argument(const char* argument, std::string& reason) {
  bool digits = *argument != '\0';
  for (const char* c = argument; *c != '\0'; ++c) digits = digits && *c >= '0' && *c <= '9';
  if (digits) return true;
  reason = escaped_name(argument) +
           " is not a port number; give a number or a device path such as /dev/ttyUSB0";
  return false;
}

bool group_worth_joining(const std::string& group) {
  static const char* const kSystemGroups[] = {"root", "shadow", "kmem", "disk", "tty"};
  for (const char* system_group : kSystemGroups)
    if (group == system_group) return false;
  return !group.empty();
}

std::string escaped_name(const std::string& name) {
  std::string shown;
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      shown += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

bool posix_port_name(int number, std::string& name) {
  if (number <= 0) return false;
  name = "/dev/ttyS" + std::to_string(number - 1);
  return true;
}
