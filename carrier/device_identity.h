// What a serial device is, beyond its name: whether it is a pseudo-terminal,
// and a USB adapter's vendor, product, serial number, interface and USB port.
// A lost device is opened again only when what is back under its name is the
// same device, so kolvan never keys a terminal or an adapter that isn't its
// own: not the other port of a dual-port chip, nor another adapter of the
// same kind without a serial number.
#pragma once

#include <cstdint>
#include <string>

struct DeviceIdentity {
  std::uint64_t number = 0;       // the device number (major and minor)
  bool pseudo_terminal = false;   // its number goes to the next terminal opened
  bool usb = false;               // the adapter's identity below is known
  std::string vendor, product, serial;
  std::string interface_number;   // the port of a multi-port chip ("00", "01")
  std::string usb_port;           // where it is plugged in: bus and ports, "1-1.2"
};

// True for the major device numbers of pseudo-terminal slaves (136 to 143,
// and the old BSD ones, 3).
bool pseudo_terminal_major(unsigned major);

// Whether a device, once lost, could be told from any other that comes back
// under its name: never a pseudo-terminal (its number goes to the next
// terminal), a USB adapter only with its interface known and a serial
// number or else its USB port, any other device by its number.
bool can_be_told_apart(const DeviceIdentity& identity);

// Whether `now`, found under the name of the lost device `lost`, is that
// device again: only when `lost` can be told apart; a USB adapter with the
// same vendor, product and interface, and the same serial number or, without
// one, the same USB port; any other device only with the same number.
bool same_device(const DeviceIdentity& lost, const DeviceIdentity& now);

// For messages: "a pseudo-terminal", "USB adapter 0403:6001 serial A10K2
// interface 00", "USB adapter 1a86:7523 without a serial number at USB port
// 1-1.2 interface 00", "device 4:64".
std::string describe_device(const DeviceIdentity& identity);
