// The way out chosen at start-up, driven through its row; the serial port
// until main opens another.
#include "carrier/carrier_output.h"

#include <atomic>

#include "carrier/serial_port.h"

namespace {

// Set once, before the output is opened, so that an interrupt during the
// opening closes what was opened so far; the handler may read it at any
// moment, hence a lock-free atomic.
std::atomic<const CarrierOutput*> output{&kSerialOutput};
static_assert(std::atomic<const CarrierOutput*>::is_always_lock_free,
              "the output is read in a signal handler");

}  // namespace

bool open_carrier_output(const CarrierOutput& chosen, const char* argument,
                         const Station& station) {
  output.store(&chosen);
  return chosen.open(argument, station);
}

void carrier_announce(std::int64_t host_second, const PulseShape& shape) {
  if (output.load()->announce != nullptr) output.load()->announce(host_second, shape);
}

void carrier_send(const PulseShape& shape) { output.load()->send(shape); }

void carrier_upkeep() {
  if (output.load()->upkeep != nullptr) output.load()->upkeep();
}

void carrier_close() { output.load()->close(); }
