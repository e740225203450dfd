// Where kolvan reads sysfs: /sys, or for tests a fake tree laid out as the
// kernel's that the environment variable KOLVAN_SYSFS_ROOT names.
#pragma once

#include <cstdlib>
#include <string>

inline std::string sysfs_root() {
  const char* root = std::getenv("KOLVAN_SYSFS_ROOT");
  return root != nullptr && *root != '\0' ? root : "/sys";
}
