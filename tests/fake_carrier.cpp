// The fake carrier behind carrier/serial_port.h for tests of the loop.
#include "fake_carrier.h"

#include "carrier/serial_port.h"
#include "fake_clock.h"

namespace {
std::vector<FakePulse> pulses;
bool is_open = false;
bool lost = false;
int reopen_attempts = 0;
int reopen_succeeds_at = 0;
std::size_t stall_index = 0;
std::uint32_t stall_ms = 0;
std::int64_t zero_bytes = 0;
}  // namespace

void fake_carrier_reset() {
  pulses.clear();
  is_open = true;
  stall_ms = 0;
  lost = false;
  reopen_attempts = 0;
  reopen_succeeds_at = 0;
  zero_bytes = 0;
}

void fake_carrier_lose(int reopen_succeeds_at_attempt) {
  is_open = false;
  lost = true;
  reopen_attempts = 0;
  reopen_succeeds_at = reopen_succeeds_at_attempt;
}

int fake_carrier_reopen_attempts() { return reopen_attempts; }

const std::vector<FakePulse>& fake_pulses() { return pulses; }

void fake_carrier_stall_on_pulse(std::size_t index, std::uint32_t ms) {
  stall_index = index;
  stall_ms = ms;
}

bool open_carrier_port(int, int) { return is_open = true; }
bool open_carrier_device(const char*, int) { return is_open = true; }
bool names_carrier_device(const char*) { return false; }
bool accepts_port_number(const char*) { return true; }
std::string carrier_open_error() { return ""; }
bool carrier_port_lost() { return lost; }

bool reopen_carrier_port() {
  if (!lost || ++reopen_attempts < reopen_succeeds_at) return false;
  lost = false;
  return is_open = true;
}

void send_pulse(const PulseShape& shape) {
  if (!is_open) return;
  pulses.push_back({fake_now_ms(), pulse_shape_chars(shape)});
  if (stall_ms != 0 && pulses.size() == stall_index + 1) fake_clock_advance(stall_ms);
}

void close_carrier_port() { is_open = false; }
int carrier_queued_chars() { return 0; }
void send_zero_bytes(int count) { zero_bytes += count; }
std::int64_t fake_zero_bytes() { return zero_bytes; }
