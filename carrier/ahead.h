// The ways out that lay each second out ahead of its time (the sound card
// on both platforms, the PWM pin): the loop announces each second's shape
// before it begins, and a writer thread of the way out's own keys it when
// the second comes. What they share is here once: the schedule of announced
// shapes (pure, in ahead.cpp), its lock and the announce verb, and the
// writer thread, started with signals masked (ahead_posix.cpp,
// ahead_win32.cpp).
#pragma once

#include <array>
#include <cstdint>

#include "stations/station.h"

// The shapes the coming host seconds key, by second since the epoch: the
// last 64 seconds announced, enough for a frame and the symbol after it.
struct ScheduledShape {
  std::int64_t second = -1;
  PulseShape shape;
};
struct ShapeSchedule {
  std::array<ScheduledShape, 64> slots;
  // False until the first shape is announced: until then a way out that
  // can be silent keys nothing at all, not even its carrier at rest
  // (--wait-sync waits before the loop announces anything).
  bool announced = false;
};

void schedule_shape(ShapeSchedule& schedule, std::int64_t second, const PulseShape& shape);
// The shape announced for `second`; false when none was.
bool scheduled_shape(const ShapeSchedule& schedule, std::int64_t second, PulseShape& shape);

// The one schedule of the process (one way out is open at a time), shared
// by the loop's thread and the writer under a lock.
//
// The announce verb of every such way out: lays out the shape of the second
// beginning at `host_second`. Not async-signal-safe.
void announce_ahead(std::int64_t host_second, const PulseShape& shape);
// The schedule as it stands, copied under the lock: the writer reads its
// copy at leisure and the loop is never held up by it.
void read_schedule(ShapeSchedule& copy);

// Starts `run` on a thread of its own that takes no signals (an interrupt
// is the loop's thread's, and a second one arriving during the handler must
// wait for it, not run beside it). The thread runs until `run` returns or
// the process ends. False when no thread can be started.
bool start_ahead_writer(void (*run)());
// Waits for the writer's `run` to return; at once when none was started.
void join_ahead_writer();
