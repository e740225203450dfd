// The fake carrier behind carrier/carrier.h for tests of the loop.
#include "fake_carrier.h"

#include "carrier/carrier.h"
#include "fake_clock.h"

namespace {
std::vector<FakePulse> pulses;
bool is_open = false;
std::size_t stall_index = 0;
std::uint32_t stall_ms = 0;
}  // namespace

void fake_carrier_reset() {
  pulses.clear();
  is_open = true;
  stall_ms = 0;
}

const std::vector<FakePulse>& fake_pulses() { return pulses; }

void fake_carrier_stall_on_pulse(std::size_t index, std::uint32_t ms) {
  stall_index = index;
  stall_ms = ms;
}

bool open_carrier_port(int, int) { return is_open = true; }
bool open_carrier_device(const char*, int) { return is_open = true; }
bool names_carrier_device(const char*) { return false; }

void send_pulse(int count) {
  if (!is_open) return;
  pulses.push_back({fake_now_ms(), count});
  if (stall_ms != 0 && pulses.size() == stall_index + 1) fake_clock_advance(stall_ms);
}

void send_pulse(const PulseShape& shape) { send_pulse(pulse_shape_chars(shape)); }

void close_carrier_port() { is_open = false; }
