// The orderly end: on SIGINT (Ctrl-C), SIGTERM (kill, timeout, a service
// stopped) and SIGHUP (the terminal closed), the output is stopped, the
// carrier off, before anything else. Ctrl-C then shows "Exit!" and ends with
// status 0; SIGTERM and SIGHUP show the same line and end by their own
// signal, as a program stopped by them does: the shell sees 128 + its
// number, a service manager a clean stop. The handler acts at once, whatever
// the loop is doing, and uses only async-signal-safe calls.
#include <signal.h>
#include <unistd.h>

#include "app/interrupt.h"
#include "carrier/carrier_output.h"

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void on_interrupt(int signal_number) {
  carrier_close();
  static const char message[] = "\nExit!\n";
  const ssize_t written = write(STDOUT_FILENO, message, sizeof message - 1);
  (void)written;
  if (signal_number == SIGINT) _exit(0);
  // The default action, unblocked, ends the process by the signal itself.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);
}

}  // namespace

void install_interrupt_handler() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  // One ending at a time: the others wait until it has ended the process.
  sigemptyset(&action.sa_mask);
  for (const int s : kEndingSignals) sigaddset(&action.sa_mask, s);
  for (const int s : kEndingSignals) {
    // A signal the caller ignores (nohup, a job started in the background)
    // stays ignored; Ctrl-C is always taken.
    struct sigaction was = {};
    if (s != SIGINT && sigaction(s, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
}
