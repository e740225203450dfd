// The serial port as a way out: its row of verbs over carrier/carrier.h,
// with the "Can not open" lines of a port that can't be opened, and its
// recovery once a second when the device vanished.
#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "carrier/carrier.h"
#include "carrier/carrier_output.h"
#include "carrier/port_name.h"
#include "pacing/clock.h"

namespace {

// After the "Can not open" line, the system's reason on a line of its own,
// when there is one.
void explain_open_failure() {
  const std::string reason = carrier_open_error();
  if (!reason.empty()) std::fprintf(stderr, "kolvan: %s\n", reason.c_str());
}

// A device path (where the platform has them) or a port number.
bool open_port(const char* argument, const Station&) {
  if (names_carrier_device(argument)) {
    if (open_carrier_device(argument, 9600)) return true;
    std::fprintf(stderr, "Can not open %s\n", escaped_name(argument).c_str());
    explain_open_failure();
    return false;
  }
  const int port_number = parse_int(argument);
  if (accepts_port_number(argument) && open_carrier_port(port_number, 9600)) return true;
  std::fprintf(stderr, "Can not open COM%d\n", port_number);
  explain_open_failure();
  return false;
}

void send_to_port(const PulseShape& shape) { send_pulse(shape); }

void reopen_lost_port() {
  if (carrier_port_lost()) reopen_carrier_port();
}

// --carrier. JJY's full carrier is the line at space: zero bytes kept
// flowing, topped up to 0.2 s queued, and never faster than the line sends
// them (a pseudo-terminal drains at once), so that Ctrl-C, which discards
// the queue, stops it at once. The other stations' full carrier is the idle
// line: nothing is sent at all.
constexpr int kSteadyAheadChars = 192;
bool steady_started = false;
RunningTime steady_time;
std::int64_t steady_sent = 0;

const char* hold_carrier(const Station& station) {
  if (!station.keyed_is_carrier_high) return "the line idle at mark (nothing sent)";
  if (!steady_started) {
    steady_started = true;
    steady_time = start_running_time();
  }
  const std::int64_t due =
      running_ms(steady_time) * kLineCharsPerSecond / 1000 + kSteadyAheadChars - steady_sent;
  const std::int64_t room = kSteadyAheadChars - carrier_queued_chars();
  const std::int64_t count = due < room ? due : room;
  if (count > 0) {
    send_zero_bytes(static_cast<int>(count));
    steady_sent += count;
  }
  return "the line held at space (zero bytes kept flowing)";
}

// C++17 has no designated initializers: the row is filled field by field,
// at compile time.
constexpr CarrierOutput serial_row() {
  CarrierOutput row{};
  row.name = "serial";
  row.open = open_port;
  row.send = send_to_port;
  row.upkeep = reopen_lost_port;
  row.close = close_carrier_port;
  row.steady = hold_carrier;
  return row;
}

constexpr CarrierOutput kSerialOutput = serial_row();

}  // namespace

const CarrierOutput& serial_carrier_output() { return kSerialOutput; }
