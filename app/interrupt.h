// The orderly end on Ctrl-C and on the signals and events that end a console
// program (SIGTERM, SIGHUP; on Windows Ctrl-Break and the console closing):
// the way out closed, the carrier off, "Exit!" said; after Ctrl-C status 0.
#pragma once

// Installed before the output is opened, so that an end during set-up
// cleans up too.
void install_interrupt_handler();
