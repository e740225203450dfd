// Preloaded into kolvan by the --wait-sync test: the kernel's clock state as
// the test sets it. ntp_adjtime reports the clock unsynchronised until the
// file KOLVAN_TEST_SYNCED names exists, and synchronised from then on.
#include <sys/timex.h>
#include <unistd.h>

#include <cstdlib>

extern "C" int ntp_adjtime(struct timex* state) {
  const char* file = std::getenv("KOLVAN_TEST_SYNCED");
  const bool synchronised = file != nullptr && access(file, F_OK) == 0;
  state->status = synchronised ? 0 : STA_UNSYNC;
  state->esterror = synchronised ? 2000 : 16000000;
  return synchronised ? TIME_OK : TIME_ERROR;
}
