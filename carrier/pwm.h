// A PWM pin as a carrier, its pure part shared by every platform: reading
// CHIP:CHANNEL, the period and duty cycles that make a station's carrier
// and its reduced level, and the edges that each second's shape plans on
// a millisecond clock. The device is in pwm_posix.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "carrier/carrier_output.h"
#include "stations/station.h"

// Where everything kolvan reads of sysfs is: /sys, or for tests a fake
// tree that the environment variable KOLVAN_SYSFS_ROOT names.
std::string pwm_sysfs_root();
// Where sysfs keeps the PWM chips (ROOT/class/pwm): a CHIP without a '/'
// is a name under it.
std::string pwm_class_dir();

struct PwmChannel {
  std::string chip;  // the chip's directory: /sys/class/pwm/pwmchip0, or as given
  int channel = 0;
  int gpio = -1;  // a header pin (GPIO18) whose chip and channel are still to find
};

// Reads "pwmchipN:M", "PATH:M" (any CHIP with a '/' is the path of a chip's
// directory) or a header pin, "GPIO18". False with `error` ("kolvan: ...")
// for anything else.
bool parse_pwm_channel(const char* argument, PwmChannel& out, std::string& error);

// --pwm=list: prints the board and its PWM chips (pwm_board.h) and returns
// true; false for an argument that names a channel or a pin. Linux only.
bool query_pwm(const char* argument);

// The square wave of a station's carrier. The fundamental of a rectangular
// wave of duty d has an amplitude proportional to sin(pi d): 50 % is the
// full carrier, and a reduced level L needs d = asin(L) / pi.
struct PwmCarrier {
  std::int64_t period_ns = 0;   // 1e9 / the carrier frequency, rounded
  std::int64_t keyed_ns = 0;    // the duty of a keyed run
  std::int64_t unkeyed_ns = 0;  // the duty between keyed runs and at rest
};

PwmCarrier pwm_carrier(const Station& station);

// One write of duty_cycle, at a time in milliseconds (from the second's
// start when planned from 0).
struct PwmEdge {
  std::uint32_t at_ms = 0;
  std::int64_t duty_ns = 0;
};

// The most edges one second's shape has: keyed, unkeyed, keyed, unkeyed.
constexpr int kMaxPwmEdges = 4;

// The edges of a second beginning at `start_ms` that keys `shape`, in time
// order, into `edges`; returns how many. An empty shape has none: the
// carrier stays at rest (unkeyed).
int plan_pwm_edges(const PwmCarrier& carrier, const PulseShape& shape, std::uint32_t start_ms,
                   PwmEdge* edges);

// The line said once at start: "pwm: pwmchip0:0 at 40000 Hz (period 25000
// ns), reduced level 10 % (duty 3.2 %)", with the period the kernel kept
// when it is known (`kept_period_ns` > 0) and differs.
std::string describe_pwm(const char* argument, const Station& station, const PwmCarrier& carrier,
                         std::int64_t kept_period_ns);

// The PWM pin's row as every platform shows it: its option, usage and
// help. Each platform's file adds the verbs: the sysfs interface on Linux; a
// check that refuses it with status 2 where the platform has none.
constexpr CarrierOutput pwm_row_words() {
  CarrierOutput row{};
  row.name = "pwm";
  row.option = "--pwm";
  row.argument = OutputArgument::Required;
  row.usage = "--pwm=PIN";
  row.missing = "kolvan: option '--pwm' needs the pin, e.g. --pwm=GPIO18";
  row.help =
      "  --pwm=PIN         make the carrier on a PWM pin, Linux only: a header pin\n"
      "                    (GPIO18; its chip and channel found on any Raspberry\n"
      "                    Pi), or CHIP:CHANNEL (pwmchipN under /sys/class/pwm or\n"
      "                    a chip's directory); --pwm=list shows what is there\n";
  row.about = "With --pwm, a Linux board's PWM pin makes the carrier itself (docs/pwm.md).\n";
  row.waiting = "--pwm leaves its channel as it is";
  return row;
}
