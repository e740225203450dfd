// How a port argument becomes a device name: its number, the Windows COM
// names and the Linux /dev/ttyS names. Pure functions, built on every
// platform.
#include "carrier/port_name.h"

#include <cctype>
#include <climits>

#include "base/escaped_name.h"

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

bool posix_port_name(int number, std::string& name) {
  if (number <= 0) return false;
  name = "/dev/ttyS" + std::to_string(number - 1);
  return true;
}

int parse_int(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  // Accumulate towards the limit of the sign so that INT_MIN is reachable,
  // and stop growing once the value can only saturate.
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}
