// kolvan: keys a serial port's transmit line with the JJY time code of the
// host's clock, minute after minute, until Ctrl-C.
//
//   kolvan COM_PORT [offset_sec]
#include <cstdio>

#include "app/command_line.h"
#include "app/interrupt.h"
#include "app/simulated_time.h"
#include "app/transmission_loop.h"
#include "carrier/carrier.h"
#include "pacing/clock.h"

namespace {

// A device path (where the platform has them) or a port number.
bool open_port(const char* argument) {
  if (names_carrier_device(argument)) {
    if (open_carrier_device(argument, 9600)) return true;
    std::fprintf(stderr, "Can not open %s\n", argument);
    return false;
  }
  const int port_number = parse_int(argument);
  if (open_carrier_port(port_number, 9600)) return true;
  std::fprintf(stderr, "Can not open COM%d\n", port_number);
  return false;
}

int fail_time_out_of_range(int offset_sec) {
  close_carrier_port();
  std::fprintf(stderr, "Can not represent the local time with an offset of %d sec\n",
               offset_sec);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Glyphs and the "Wait" count must show as they are written.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2 && argc != 3) {
    std::fputs("Usage: Kolvan COM_PORT [offset_sec]\n", stderr);
    return 0;
  }
  const int offset_sec = argc == 3 ? parse_int(argv[2]) : 0;
  if (!open_port(argv[1])) return 1;
  install_interrupt_handler();
  prepare_clocks();

  SimulatedTime start;
  if (!simulated_time(offset_sec, start)) return fail_time_out_of_range(offset_sec);
  std::printf("Setting: %04d/%02d/%02d %02d:%02d:%02d\n", start.tm_year + 1900, start.tm_mon + 1,
              start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec);

  run_transmission_loop(offset_sec);
  // The loop returns only when the time can no longer be converted.
  return fail_time_out_of_range(offset_sec);
}
