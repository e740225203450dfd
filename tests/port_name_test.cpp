// Port numbers to device names, both platforms' rules, and which device
// may be opened again. Only names and rules; no device is opened.
#include "base/escaped_name.h"
#include "carrier/device_identity.h"
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

// What may be opened again under a lost device's name: not the other port
// of a dual-port chip, not another adapter without a serial number in
// another USB port, nothing that can't be told from another of its kind.
TEST(SameDevice, NeverAPseudoTerminalAUsbAdapterOnlyByItsIdentity) {
  DeviceIdentity pty;
  pty.number = 136ull << 32 | 3;
  pty.pseudo_terminal = true;
  DeviceIdentity ftdi;
  ftdi.number = 188ull << 32;
  ftdi.usb = true;
  ftdi.vendor = "0403";
  ftdi.product = "6001";
  ftdi.serial = "A10K2";
  ftdi.interface_number = "00";
  ftdi.usb_port = "1-1";
  DeviceIdentity other_ftdi = ftdi;
  other_ftdi.serial = "B77Q1";
  DeviceIdentity ftdi_port_b = ftdi;
  ftdi_port_b.interface_number = "01";
  DeviceIdentity ftdi_moved = ftdi;
  ftdi_moved.usb_port = "2-1";
  DeviceIdentity ch340 = ftdi;
  ch340.vendor = "1a86";
  ch340.product = "7523";
  ch340.serial = "";
  ch340.usb_port = "1-1.2";
  DeviceIdentity ch340_next_port = ch340;
  ch340_next_port.usb_port = "1-1.3";
  DeviceIdentity ch340_nowhere = ch340;
  ch340_nowhere.usb_port = "";
  DeviceIdentity ftdi_renumbered = ftdi;
  ftdi_renumbered.number = 188ull << 32 | 1;
  DeviceIdentity built_in;
  built_in.number = 4ull << 32 | 64;
  struct Case {
    const DeviceIdentity& lost;
    const DeviceIdentity& now;
    bool same;
  } const cases[] = {
      {pty, pty, false},           {ftdi, ftdi, true},         {ftdi, ftdi_renumbered, true},
      {ftdi, other_ftdi, false},   {ftdi, ch340, false},       {ch340, ch340, true},
      {ftdi, pty, false},          {built_in, built_in, true}, {built_in, ftdi, false},
      {ftdi, built_in, false},     {ftdi, ftdi_port_b, false}, {ftdi, ftdi_moved, true},
      {ch340, ch340_next_port, false}, {ch340_nowhere, ch340_nowhere, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(same_device(c.lost, c.now), c.same)
        << describe_device(c.lost) << " then " << describe_device(c.now);
  EXPECT_TRUE(pseudo_terminal_major(136) && pseudo_terminal_major(143) && pseudo_terminal_major(3));
  EXPECT_FALSE(pseudo_terminal_major(188) || pseudo_terminal_major(4) || pseudo_terminal_major(144));
  EXPECT_EQ(describe_device(ftdi), "USB adapter 0403:6001 serial A10K2 interface 00");
  EXPECT_EQ(describe_device(ch340),
            "USB adapter 1a86:7523 without a serial number at USB port 1-1.2 interface 00");
}

// Control characters (DEL among them) and backslashes as C escapes; other
// bytes, UTF-8 included, as they are.
TEST(EscapedName, ControlCharactersAndBackslashesAreEscaped) {
  const struct {
    const char *name, *shown;
  } kCases[] = {{"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"a\nb\x1b[2J", "a\\x0ab\\x1b[2J"},
                {"del\x7f", "del\\x7f"},        {"back\\slash", "back\\\\slash"},
                {"caf\xc3\xa9", "caf\xc3\xa9"}};
  for (const auto& c : kCases) EXPECT_EQ(escaped_name(c.name), c.shown);
}

TEST(GroupAdvice, OnlyForGroupsThatGiveNoMoreThanPorts) {
  for (const char* group : {"dialout", "uucp", "plugdev"})
    EXPECT_TRUE(group_worth_joining(group)) << group;
  for (const char* group : {"root", "shadow", "kmem", "disk", "tty", ""})
    EXPECT_FALSE(group_worth_joining(group)) << group;
}
