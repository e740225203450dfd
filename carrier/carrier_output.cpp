// The output chosen at start-up; the serial port until main says otherwise,
// so that everything that links only the port's verbs keys the port.
#include "carrier/carrier_output.h"

#include "carrier/carrier.h"

namespace {

void send_to_port(const PulseShape& shape) { send_pulse(shape); }

const CarrierOutput kSerialOutput = {send_to_port, nullptr, close_carrier_port};

// Set before the interrupt handler is installed and never again, so the
// handler reads it without a race.
const CarrierOutput* output = &kSerialOutput;

}  // namespace

const CarrierOutput& serial_carrier_output() { return kSerialOutput; }

void use_carrier_output(const CarrierOutput& chosen) { output = &chosen; }

void carrier_send(const PulseShape& shape) { output->send(shape); }

void carrier_announce(std::int64_t host_second, const PulseShape& shape) {
  if (output->announce != nullptr) output->announce(host_second, shape);
}

void carrier_close() { output->close(); }
