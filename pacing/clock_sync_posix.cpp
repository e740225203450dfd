// The kernel's answer on the clock's synchronisation, read: TIME_ERROR or
// STA_UNSYNC until the time service has set the clock from a source.
#include "pacing/clock_sync.h"

#include <sys/timex.h>

bool clock_sync_from_kernel(int result, int status, long esterror, bool& synchronised,
                            long& estimated_error_us) {
  if (result < 0) return false;
  synchronised = result != TIME_ERROR && (status & STA_UNSYNC) == 0;
  estimated_error_us = esterror;
  return true;
}
