// Says on standard error when the host clock, which every frame is set
// from, isn't synchronised, and when that changes.
#pragma once

// Reads the host's synchronisation state; called at start and once a
// minute. Prints a line when the clock is found unsynchronised and another
// when the state changes; nothing while it stays synchronised.
void watch_host_clock();

// Whether the platform says if the host clock is synchronised at all.
bool host_clock_sync_known();

// Returns once the host's time service reports the clock synchronised, at
// once when it already is. Says on standard error when it starts waiting
// and when the wait ends, once each; checks once a second meanwhile.
void wait_for_host_clock_sync();

// Forgets what was last reported, as at start-up (for tests).
void reset_host_clock_watch();
