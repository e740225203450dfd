// The line monitor's core on any line: the first byte picks the station
// (modulo the table), then records of [what][delay][length][bytes...] feed
// chunks or idle times, including steps of the host clock both ways. Every
// event is formatted as the monitor prints it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "monitor/line_monitor.h"
#include "stations/station.h"

namespace {

int station_count() {
  int count = 0;
  while (kStations[count] != nullptr) ++count;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  LineMonitor monitor(*kStations[data[0] % station_count()]);
  std::vector<LineEvent> events;
  // Late 2026: far from the ends of any clock.
  std::int64_t now_us = 1796000000LL * 1000000;
  std::size_t at = 1;
  while (at + 3 <= size) {
    const std::uint8_t what = data[at], delay = data[at + 1];
    std::size_t length = data[at + 2];
    at += 3;
    if (length > size - at) length = size - at;
    // Delays from 0 to about a second; now and then an hour's step.
    now_us += static_cast<std::int64_t>(delay) * 4000;
    if ((what & 0x30) == 0x30) now_us += (what & 0x40) != 0 ? 3600000000LL : -3600000000LL;
    events.clear();
    if ((what & 1) != 0) {
      monitor.idle(now_us, events);
    } else {
      // A chunk's bytes repeated, so that long pulses come cheaply.
      const int repeat = 1 + (what >> 1 & 7);
      std::vector<unsigned char> chunk;
      for (int r = 0; r < repeat; ++r) chunk.insert(chunk.end(), data + at, data + at + length);
      monitor.feed(chunk.data(), chunk.size(), now_us, events);
      at += length;
    }
    for (const LineEvent& event : events) format_line_event(event);
  }
  return 0;
}
