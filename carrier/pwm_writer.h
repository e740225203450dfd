// The PWM pin's writer as a pure core: given the host's clock reading and
// the schedule of announced shapes, what the writer does next, write one
// duty now or look at the clock again later. The thread that sleeps and
// writes is in pwm_posix.cpp; these are the rules it keys by:
// - each second's edges fall at their times from the second's start, so a
//   run begun late ends on time (shortened, never shifted);
// - an edge reached more than kLatestOnsetMs late (a stalled host) ends what
//   is keyed at once and leaves the rest of that second out: a late onset
//   is not written at all, as the loop leaves out a late symbol;
// - the writer never sleeps longer than kLatestOnsetMs, so that a step of
//   the clock either way is seen within that: a run under way ends at once
//   and the next second of the new time is keyed on time;
// - --carrier's full carrier is written again every second, so that a
//   channel set up again after a loss is held at full level within a
//   second, and a lost or refusing channel is noticed.
#pragma once

#include <cstdint>

#include "carrier/ahead.h"
#include "carrier/pwm.h"

struct PwmWriter {
  // The host second in play: its start awaited, or its edges being written.
  std::int64_t second = INT64_MIN;
  bool planned = false;
  PwmEdge edges[kMaxPwmEdges] = {};
  int count = 0;
  int next = 0;
  bool keyed = false;  // the last duty written was a keyed run's
  // When --carrier's full carrier was last written.
  std::int64_t steady_at_ns = INT64_MIN;
};

struct PwmStep {
  bool write = false;
  std::int64_t duty_ns = 0;  // to write now, when `write`
  std::int64_t wake_ns = 0;  // else: the clock reading to look again at
};

// The next thing to do at `now_ns` (the real-time clock), for the shapes of
// `schedule`, or for the steady full carrier when `steady`.
PwmStep next_pwm_step(PwmWriter& writer, const PwmCarrier& carrier, const ShapeSchedule& schedule,
                      bool steady, std::int64_t now_ns);
