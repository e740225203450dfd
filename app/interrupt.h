// The orderly end on Ctrl-C: close the way out, say "Exit!", status 0.
#pragma once

void install_interrupt_handler();
