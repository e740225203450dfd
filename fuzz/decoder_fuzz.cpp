// Every station's decoder on any frame: 60 bytes become a frame's symbols
// (each taken modulo the station's symbol count), decoded by each station in
// kStations, so that a station added to the table is fuzzed with the rest.
// A frame that decodes must carry a date and time that exist, and its
// monitor line is made, as the monitor would print it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "monitor/line_monitor.h"
#include "stations/station.h"

namespace {

bool in_range(int value, int low, int high) { return value >= low && value <= high; }

bool plausible(const StationTime& t) {
  return in_range(t.month, 1, 12) && in_range(t.day, 1, 31) && in_range(t.hour, 0, 23) &&
         in_range(t.minute, 0, 59) && in_range(t.day_of_week, 0, 6) &&
         in_range(t.day_of_year, 1, 366) && in_range(t.year, 1900, 2200);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 60) return 0;
  for (const Station* const* s = kStations; *s != nullptr; ++s) {
    const Station& station = **s;
    StationFrame frame{};
    for (std::size_t i = 0; i < 60; ++i)
      frame[i] = static_cast<StationSymbol>(data[i] % station.symbol_count);
    LineEvent event;
    event.kind = LineEventKind::Minute;
    event.minute.first_second = 1800000000;
    const char* reason = "";
    event.minute.decoded = station.decode(frame, event.minute.time, &reason);
    if (event.minute.decoded && !plausible(event.minute.time)) std::abort();
    if (!event.minute.decoded && reason == nullptr) std::abort();
    if (!event.minute.decoded) event.minute.reason = reason;
    event.minute.onset_us[0] = event.minute.first_second * 1000000 + 3000;
    format_line_event(event);
  }
  return 0;
}
