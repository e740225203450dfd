// The schedule of announced shapes, by host second. See ahead.h.
#include "carrier/ahead.h"

namespace {

ScheduledShape& slot_of(ShapeSchedule& schedule, std::int64_t second) {
  return schedule.slots[static_cast<std::size_t>(second & 63)];
}

}  // namespace

void schedule_shape(ShapeSchedule& schedule, std::int64_t second, const PulseShape& shape) {
  ScheduledShape& slot = slot_of(schedule, second);
  slot.second = second;
  slot.shape = shape;
  schedule.announced = true;
}

bool scheduled_shape(const ShapeSchedule& schedule, std::int64_t second, PulseShape& shape) {
  const ScheduledShape& slot = schedule.slots[static_cast<std::size_t>(second & 63)];
  if (slot.second != second) return false;
  shape = slot.shape;
  return true;
}
