// SIGINT and SIGTERM as a request to stop, for kolvan-monitor and the
// benchmarks: a flag their read loops check at each poll. POSIX only.
#pragma once

#include <signal.h>

// Set by SIGINT and SIGTERM.
extern volatile sig_atomic_t stop_requested;

// Without SA_RESTART, so that a signal also ends the current poll at once.
void install_stop_handlers();
