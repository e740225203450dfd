// The announce-ahead core's lock and writer thread on Windows: a slim
// reader/writer lock (initialised statically, so announcing needs no set-up
// first) and a thread of the system's own; Windows sends no signals to it.
// See ahead.h.
#include <windows.h>

#include "carrier/ahead.h"

namespace {

struct Ahead {
  SRWLOCK lock = SRWLOCK_INIT;
  ShapeSchedule schedule;  // under lock
  HANDLE thread = nullptr;
  void (*run)() = nullptr;
};
Ahead ahead;

DWORD WINAPI run_writer(void*) {
  ahead.run();
  return 0;
}

}  // namespace

void announce_ahead(std::int64_t host_second, const PulseShape& shape) {
  AcquireSRWLockExclusive(&ahead.lock);
  schedule_shape(ahead.schedule, host_second, shape);
  ReleaseSRWLockExclusive(&ahead.lock);
}

void read_schedule(ShapeSchedule& copy) {
  AcquireSRWLockShared(&ahead.lock);
  copy = ahead.schedule;
  ReleaseSRWLockShared(&ahead.lock);
}

bool start_ahead_writer(void (*run)()) {
  ahead.run = run;
  ahead.thread = CreateThread(nullptr, 0, run_writer, nullptr, 0, nullptr);
  return ahead.thread != nullptr;
}

void join_ahead_writer() {
  if (ahead.thread == nullptr) return;
  WaitForSingleObject(ahead.thread, INFINITE);
  CloseHandle(ahead.thread);
  ahead.thread = nullptr;
}
