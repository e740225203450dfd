// kolvan-monitor on any recording: the first byte picks the station, the
// rest is the file, read through the WAV reader, the envelope and the line
// monitor as `kolvan-monitor FILE.wav` does. The file lives in memory
// (memfd) and is named by its /proc path.
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/audio_monitor.h"
#include "monitor/line_monitor.h"
#include "stations/station.h"

namespace {

int station_count() {
  int count = 0;
  while (kStations[count] != nullptr) ++count;
  return count;
}

void discard(const std::string&) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const int fd = memfd_create("kolvan-fuzz.wav", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
  const std::uint8_t* file = data + 1;
  std::size_t left = size - 1;
  while (left > 0) {
    const ssize_t n = pwrite(fd, file, left, static_cast<off_t>(size - 1 - left));
    if (n <= 0) return 0;
    file += n;
    left -= static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const Station& station = *kStations[data[0] % station_count()];
  LineMonitor monitor(station);
  static volatile sig_atomic_t never = 0;
  monitor_audio(path.c_str(), station, monitor, never, discard);
  return 0;
}
