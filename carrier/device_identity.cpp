// Whether a device that is back under a lost device's name is the same one.
// Pure rules, built everywhere; serial_port_posix.cpp reads the identities.
#include "carrier/device_identity.h"

bool pseudo_terminal_major(unsigned major) { return major == 3 || (major >= 136 && major <= 143); }

bool same_device(const DeviceIdentity& lost, const DeviceIdentity& now) {
  if (lost.pseudo_terminal || now.pseudo_terminal) return false;
  if (lost.usb || now.usb) {
    return lost.usb && now.usb && lost.vendor == now.vendor && lost.product == now.product &&
           lost.serial == now.serial;
  }
  return lost.number == now.number;
}

std::string describe_device(const DeviceIdentity& identity) {
  if (identity.pseudo_terminal) return "a pseudo-terminal";
  if (identity.usb) {
    return "USB adapter " + identity.vendor + ":" + identity.product +
           (identity.serial.empty() ? " without a serial number" : " serial " + identity.serial);
  }
  return "device " + std::to_string(identity.number >> 32) + ":" +
         std::to_string(identity.number & 0xFFFFFFFFu);
}
