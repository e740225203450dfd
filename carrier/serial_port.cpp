// The serial port as a way out: its row of the table of ways out, its verbs
// over the device of carrier/serial_port.h, with the "Can not open" lines
// of a port that can't be opened, and its recovery once a second when the
// device vanished.
#include "carrier/serial_port.h"

#include <cstdio>
#include <string>

#include "base/escaped_name.h"
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

// The steady carrier's count: since when, and how many zero bytes so far.
struct SteadyLine {
  bool started = false;
  RunningTime time;
  std::int64_t sent = 0;
};

SteadyLine steady;

const char* hold_carrier(const Station& station) {
  if (!station.keyed_is_carrier_high) return "the line idle at mark (nothing sent)";
  if (!steady.started) {
    steady.started = true;
    steady.time = start_running_time();
  }
  const std::int64_t due =
      running_ms(steady.time) * kLineCharsPerSecond / 1000 + kSteadyAheadChars - steady.sent;
  const std::int64_t room = kSteadyAheadChars - carrier_queued_chars();
  const std::int64_t count = due < room ? due : room;
  if (count > 0) {
    send_zero_bytes(static_cast<int>(count));
    steady.sent += count;
  }
  return "the line held at space (zero bytes kept flowing)";
}

// C++17 has no designated initializers: the row is filled field by field,
// at compile time.
constexpr CarrierOutput serial_row() {
  CarrierOutput row{};
  row.name = "serial";
  row.option = "COM_PORT";
  row.argument = OutputArgument::Operand;
  row.usage = "COM_PORT";
  row.help =
      "  COM_PORT          the serial port: its number (3 is COM3; on Linux COM n is\n"
      "                    /dev/ttyS(n-1)) or, on Linux, a device path (/dev/ttyUSB0)\n";
  row.about =
      "a serial port's transmit line (runs of zero bytes at 9600\n"
      "baud 8N1: the line at space)";
  row.waiting = "a serial line idles (no carrier for jjy40 and jjy60, the full carrier for the others)";
  row.open = open_port;
  row.send = send_to_port;
  row.upkeep = reopen_lost_port;
  row.close = close_carrier_port;
  row.steady = hold_carrier;
  return row;
}

}  // namespace

extern const CarrierOutput kSerialOutput = serial_row();
