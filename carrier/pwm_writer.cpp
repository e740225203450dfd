// The PWM writer's rules. See pwm_writer.h.
#include "carrier/pwm_writer.h"

#include <algorithm>

#include "base/units.h"
#include "pacing/pacer.h"

namespace {

constexpr std::int64_t kMarginNs = kLatestOnsetMs * (kSecondNs / kSecondMs);

PwmStep write(std::int64_t duty_ns) {
  PwmStep step;
  step.write = true;
  step.duty_ns = duty_ns;
  return step;
}

// Looks again at `at_ns`, or sooner: never more than the margin away.
PwmStep look_at(std::int64_t at_ns, std::int64_t now_ns) {
  PwmStep step;
  step.wake_ns = std::min(at_ns, now_ns + kMarginNs);
  return step;
}

}  // namespace

PwmStep next_pwm_step(PwmWriter& w, const PwmCarrier& carrier, const ShapeSchedule& schedule,
                      bool steady, std::int64_t now_ns) {
  if (steady) {
    if (w.steady_at_ns == INT64_MIN || now_ns < w.steady_at_ns ||
        now_ns - w.steady_at_ns >= kSecondNs) {
      w.steady_at_ns = now_ns;
      return write(carrier.period_ns / 2);
    }
    return look_at(w.steady_at_ns + kSecondNs, now_ns);
  }
  for (;;) {
    if (w.second == INT64_MIN) {
      w.second = floor_div(now_ns, kSecondNs) + 1;
      w.planned = false;
    }
    if (w.planned && w.next >= w.count) {
      ++w.second;
      w.planned = false;
    }
    const std::int64_t start = w.second * kSecondNs;
    // The clock never reads before the second in play began once its edges
    // are planned, nor before the second before it while its start is
    // awaited, unless it was stepped back; it reaches the second after the
    // one in play only when stepped forward or when the host stalled.
    const std::int64_t earliest = w.planned ? start : start - kSecondNs;
    if (now_ns < earliest - kMarginNs || now_ns >= start + kSecondNs) {
      w.second = floor_div(now_ns, kSecondNs) + 1;
      w.planned = false;
      if (w.keyed) {
        w.keyed = false;
        return write(carrier.unkeyed_ns);
      }
      continue;
    }
    if (!w.planned) {
      if (now_ns < start) return look_at(start, now_ns);
      PulseShape shape;
      w.count = scheduled_shape(schedule, w.second, shape)
                    ? plan_pwm_edges(carrier, shape, 0, w.edges)
                    : 0;
      w.next = 0;
      w.planned = true;
      continue;
    }
    const PwmEdge& edge = w.edges[w.next];
    const std::int64_t at = start + static_cast<std::int64_t>(edge.at_ms) * (kSecondNs / kSecondMs);
    if (now_ns < at) return look_at(at, now_ns);
    const bool onset = w.next % 2 == 0;  // edges alternate: keyed, unkeyed
    ++w.next;
    if (now_ns - at > kMarginNs) {
      w.count = w.next;  // the rest of the second is left out
      if (onset) continue;
    }
    w.keyed = onset;
    return write(edge.duty_ns);
  }
}
