// Says on standard error when the host clock, which every frame is set
// from, isn't synchronised, and when that changes.
#pragma once

// Reads the host's synchronisation state; called at start and once a
// minute. Prints a line when the clock is found unsynchronised and another
// when the state changes; nothing while it stays synchronised.
void watch_host_clock();

// Forgets what was last reported, as at start-up (for tests).
void reset_host_clock_watch();
