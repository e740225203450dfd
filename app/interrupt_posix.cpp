// Ctrl-C ends the program in order: output stopped, "Exit!" shown, status 0.
// The handler acts at once, whatever the loop is doing, and uses only
// async-signal-safe calls.
#include <signal.h>
#include <unistd.h>

#include "app/interrupt.h"
#include "carrier/carrier_output.h"

namespace {
extern "C" void on_interrupt(int) {
  carrier_close();
  static const char message[] = "\nExit!\n";
  const ssize_t written = write(STDOUT_FILENO, message, sizeof message - 1);
  (void)written;
  _exit(0);
}
}  // namespace

void install_interrupt_handler() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}
