// Ctrl-C ends the program in order: port closed, "Exit!" shown, status 0.
// Windows runs the handler on a thread of its own while the loop goes on,
// so it writes past the stdio locks and ends the process straight away.
#include <io.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/interrupt.h"
#include "carrier/carrier.h"

namespace {
extern "C" void on_interrupt(int) {
  close_carrier_port();
  static const char message[] = "\nExit!\n";
  _write(_fileno(stdout), message, sizeof message - 1);
  _exit(0);
}
}  // namespace

void install_interrupt_handler() { signal(SIGINT, on_interrupt); }
