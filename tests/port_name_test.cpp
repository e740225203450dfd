// Port numbers to device names, both platforms' rules. Only names are made
// here; no device is opened.
#include "carrier/port_name.h"

#include <gtest/gtest.h>

#include <limits>

TEST(Win32PortName, ShortFormBelowTenNegativesIncluded) {
  EXPECT_EQ(win32_port_name(9), "COM9");
  EXPECT_EQ(win32_port_name(1), "COM1");
  EXPECT_EQ(win32_port_name(0), "COM0");
  EXPECT_EQ(win32_port_name(-1), "COM-1");
  EXPECT_EQ(win32_port_name(-10), "COM-10");
}

TEST(Win32PortName, DeviceNamespaceFromTenOn) {
  EXPECT_EQ(win32_port_name(10), "\\\\.\\COM10");
  EXPECT_EQ(win32_port_name(256), "\\\\.\\COM256");
}

TEST(PosixPortName, ComNIsTtySNMinusOne) {
  std::string name;
  ASSERT_TRUE(posix_port_name(1, name));
  EXPECT_EQ(name, "/dev/ttyS0");
  ASSERT_TRUE(posix_port_name(3, name));
  EXPECT_EQ(name, "/dev/ttyS2");
  ASSERT_TRUE(posix_port_name(10, name));
  EXPECT_EQ(name, "/dev/ttyS9");
}

TEST(PosixPortName, ZeroAndBelowNameNoDevice) {
  std::string name;
  EXPECT_FALSE(posix_port_name(0, name));
  EXPECT_FALSE(posix_port_name(-1, name));
  EXPECT_FALSE(posix_port_name(std::numeric_limits<int>::min(), name));
}
