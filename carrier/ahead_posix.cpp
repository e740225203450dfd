// The announce-ahead core's lock and writer thread on POSIX: a mutex, and a
// thread started with every signal blocked. See ahead.h.
#include <pthread.h>
#include <signal.h>

#include <mutex>

#include "carrier/ahead.h"

namespace {

struct Ahead {
  std::mutex lock;
  ShapeSchedule schedule;  // under lock
  pthread_t thread{};
  bool started = false;
  void (*run)() = nullptr;
};
Ahead ahead;

void* run_writer(void*) {
  ahead.run();
  return nullptr;
}

}  // namespace

void announce_ahead(std::int64_t host_second, const PulseShape& shape) {
  std::lock_guard<std::mutex> hold(ahead.lock);
  schedule_shape(ahead.schedule, host_second, shape);
}

void read_schedule(ShapeSchedule& copy) {
  std::lock_guard<std::mutex> hold(ahead.lock);
  copy = ahead.schedule;
}

bool start_ahead_writer(void (*run)()) {
  ahead.run = run;
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  ahead.started = pthread_create(&ahead.thread, nullptr, run_writer, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ahead.started;
}

void join_ahead_writer() {
  if (!ahead.started) return;
  ahead.started = false;
  pthread_join(ahead.thread, nullptr);
}
