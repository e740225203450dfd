// The watch on the host clock's synchronisation. A radio clock set from an
// unsynchronised host is set wrong without a sign of it, so kolvan says so.
// Standard output stays the console's; these lines go to standard error.
#include "app/clock_watch.h"

#include <cstdio>

#include "pacing/clock.h"

namespace {

enum class Reported { Nothing, Synchronised, Unsynchronised };
Reported reported = Reported::Nothing;

}  // namespace

void watch_host_clock() {
  bool synchronised = false;
  long error_us = 0;
  if (!read_clock_sync(synchronised, error_us)) return;
  if (synchronised) {
    // Silent at start: a synchronised clock is the normal case.
    if (reported == Reported::Unsynchronised) {
      std::fprintf(stderr,
                   "kolvan: the host clock is synchronised (NTP) again; estimated error %ld ms\n",
                   (error_us + 999) / 1000);
    }
    reported = Reported::Synchronised;
    return;
  }
  if (reported != Reported::Unsynchronised) {
    std::fputs("kolvan: the host clock is not synchronised (NTP); clocks set from it will be "
               "wrong by as much as it is\n",
               stderr);
  }
  reported = Reported::Unsynchronised;
}

bool host_clock_sync_known() {
  bool synchronised = false;
  long error_us = 0;
  return read_clock_sync(synchronised, error_us);
}

void wait_for_host_clock_sync() {
  bool synchronised = false;
  long error_us = 0;
  if (!read_clock_sync(synchronised, error_us) || synchronised) return;
  std::fputs("kolvan: waiting until the host clock is synchronised (NTP); nothing is sent until "
             "then\n",
             stderr);
  while (read_clock_sync(synchronised, error_us) && !synchronised) sleep_ms(1000);
  std::fprintf(stderr,
               "kolvan: the host clock is synchronised (NTP), estimated error %ld ms: sending\n",
               (error_us + 999) / 1000);
  reported = Reported::Synchronised;
}

void reset_host_clock_watch() { reported = Reported::Nothing; }
