// The way out chosen at start-up, driven through its row; the serial port
// until main opens another.
#include "carrier/carrier_output.h"

#include "carrier/serial_port.h"

namespace {

// Set before the interrupt handler is installed and never again, so the
// handler reads it without a race.
const CarrierOutput* output = &kSerialOutput;

}  // namespace

bool open_carrier_output(const CarrierOutput& chosen, const char* argument,
                         const Station& station) {
  if (!chosen.open(argument, station)) return false;
  output = &chosen;
  return true;
}

void carrier_announce(std::int64_t host_second, const PulseShape& shape) {
  if (output->announce != nullptr) output->announce(host_second, shape);
}

void carrier_send(const PulseShape& shape) { output->send(shape); }

void carrier_upkeep() {
  if (output->upkeep != nullptr) output->upkeep();
}

void carrier_close() { output->close(); }
