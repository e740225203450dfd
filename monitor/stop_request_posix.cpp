// The stop request's handlers: they only set the flag, which is all a
// signal handler may safely do here.
#include "monitor/stop_request.h"

volatile sig_atomic_t stop_requested = 0;

namespace {

extern "C" void on_stop(int) { stop_requested = 1; }

}  // namespace

void install_stop_handlers() {
  struct sigaction action = {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
