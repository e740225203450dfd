// What a serial device is, beyond its name: whether it is a pseudo-terminal,
// and a USB adapter's vendor, product and serial number. A lost device is
// opened again only when what is back under its name is the same device,
// so kolvan never keys a terminal or an adapter that isn't its own.
#pragma once

#include <cstdint>
#include <string>

struct DeviceIdentity {
  std::uint64_t number = 0;       // the device number (major and minor)
  bool pseudo_terminal = false;   // its number goes to the next terminal opened
  bool usb = false;               // the adapter's identity below is known
  std::string vendor, product, serial;
};

// True for the major device numbers of pseudo-terminal slaves (136 to 143,
// and the old BSD ones, 3).
bool pseudo_terminal_major(unsigned major);

// Whether `now`, found under the name of the lost device `lost`, is that
// device again: never a pseudo-terminal, a USB adapter only with the same
// vendor, product and serial, any other device only with the same number.
bool same_device(const DeviceIdentity& lost, const DeviceIdentity& now);

// For messages: "a pseudo-terminal", "USB adapter 0403:6001 serial A10K2",
// "device 4:64".
std::string describe_device(const DeviceIdentity& identity);
