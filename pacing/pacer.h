// Paces the transmission in whole seconds: a reference instant on the
// millisecond clock, moved on by exactly 1000 ms per tick and restarted at
// the host clock's change of second before every frame.
#pragma once

#include <cstdint>

// Restarts the reference at the next change of the calendar second (the end
// of the millisecond in which the change is seen) and returns there. With
// `initial` false, first sleeps until 800 ms after the current reference so
// that polling covers only the end of that second.
void align_to_second(bool initial);

// Sleeps until one second after the reference and moves the reference on by
// 1000 ms. Returns false at once, changing nothing, when that second has
// already passed.
bool tick();

// After a late tick: moves the reference on by the whole seconds that have
// passed since it, so that it is the start of the current second again, and
// returns how many seconds that was (0 when the tick wasn't late).
int catch_up_to_current_second();
