// A fake carrier port for tests: records each pulse and when it was queued.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FakePulse {
  std::uint64_t at_ms;  // fake time since the clock's reset
  int count;            // zero bytes queued
};

void fake_carrier_reset();

// Queuing pulse number `index` (counting from the reset) takes `ms` of fake
// time: the host stalled between two sleeps.
void fake_carrier_stall_on_pulse(std::size_t index, std::uint32_t ms);
const std::vector<FakePulse>& fake_pulses();

// The device vanishes now; attempt number `reopen_succeeds_at_attempt` to
// open it again succeeds.
void fake_carrier_lose(int reopen_succeeds_at_attempt);
int fake_carrier_reopen_attempts();

// Zero bytes given to send_zero_bytes since the reset (the queue never fills).
std::int64_t fake_zero_bytes();
