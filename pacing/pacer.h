// Paces the transmission in whole seconds: a reference instant on the
// millisecond clock, moved on by exactly 1000 ms per tick and restarted at
// the host clock's change of second before every frame.
#pragma once

#include <cstdint>

// Restarts the reference at the next change of the calendar second (the end
// of the millisecond in which the change is seen) and returns there. With
// `initial` false, first sleeps until 800 ms after the current reference so
// that polling covers only the end of that second. A change seen too late
// (the host stalled while polling) is not taken: the next one is. A calendar
// that steps back while polling is followed to its next change of second.
void align_to_second(bool initial);

// Restarts the reference at the start of calendar second `second`: sleeps
// until 800 ms after the current reference, then polls. Returns how many
// seconds after `second` the reference stands: 0 when the start of `second`
// was seen at once; more when the host stalled and it passed unseen, and the
// reference is then the start of the first later second seen at once.
// kClockSteppedBack when the calendar went back meanwhile, or already reads
// earlier than the second before `second`: `second` may be hours away, so
// the reference is the start of the next second seen at once instead.
int align_to_calendar_second(std::int64_t second);
constexpr int kClockSteppedBack = -1;

// Sleeps until one second after the reference and moves the reference on by
// 1000 ms. Returns false at once, changing nothing, when that second has
// already passed.
bool tick();

// After a late tick: moves the reference on by the whole seconds that have
// passed since it, so that it is the start of the current second again, and
// returns how many seconds that was (0 when the tick wasn't late).
int catch_up_to_current_second();

// Moves to the next second: a tick, and when it was late or its sleep
// overran, a catch-up. Returns how many seconds the reference moved (1 on
// time, more after a stall); it is then the start of the current second.
int next_second();

// True while the current second began no more than kLatestOnsetMs ago: a
// pulse sent now still starts at its second's start.
bool second_just_began();

// The calendar second that the pacer's current second stands for, read at
// that second's middle, so that a tick some milliseconds off its calendar
// second (the two clocks drifting apart) still reads its own second.
std::int64_t pacer_calendar_second();

// How late in its second a pulse may start. The normal onset is the sleep's
// overshoot or the poll period, 2-11 ms, and up to 16 ms on a loaded host
// under Wine; 50 ms leaves room for a busier host (a pulse dropped is a
// minute the clock can't decode) and still keeps the longest keyed run of
// any second (0.8 s) 150 ms clear of the next second's start. A receiver
// reads a pulse's length, which a late start doesn't change.
constexpr std::int32_t kLatestOnsetMs = 50;
