// Whether a device that is back under a lost device's name is the same one.
// Pure rules, built everywhere; serial_port_posix.cpp reads the identities.
#include "carrier/device_identity.h"

bool pseudo_terminal_major(unsigned major) { return major == 3 || (major >= 136 && major <= 143); }

bool can_be_told_apart(const DeviceIdentity& identity) {
  if (identity.pseudo_terminal) return false;
  if (!identity.usb) return true;
  return !identity.interface_number.empty() &&
         (!identity.serial.empty() || !identity.usb_port.empty());
}

bool same_device(const DeviceIdentity& lost, const DeviceIdentity& now) {
  if (!can_be_told_apart(lost) || now.pseudo_terminal) return false;
  if (lost.usb || now.usb) {
    return lost.usb && now.usb && lost.vendor == now.vendor && lost.product == now.product &&
           lost.interface_number == now.interface_number && lost.serial == now.serial &&
           (!lost.serial.empty() || lost.usb_port == now.usb_port);
  }
  return lost.number == now.number;
}

std::string describe_device(const DeviceIdentity& identity) {
  if (identity.pseudo_terminal) return "a pseudo-terminal";
  if (identity.usb) {
    return "USB adapter " + identity.vendor + ":" + identity.product +
           (identity.serial.empty() ? " without a serial number at USB port " + identity.usb_port
                                    : " serial " + identity.serial) +
           " interface " + identity.interface_number;
  }
  return "device " + std::to_string(identity.number >> 32) + ":" +
         std::to_string(identity.number & 0xFFFFFFFFu);
}
