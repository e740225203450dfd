// The transmission loop: at the top of each minute it encodes that minute
// and sends its sixty symbols, one pulse per second; at any other second,
// and in minutes 15 and 45, it waits for the end of the minute. Each pass
// shows one line on the console.
#include "app/transmission_loop.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/simulated_time.h"
#include "carrier/carrier_output.h"
#include "pacing/pacer.h"

namespace {

// Shown in the column of a symbol whose second passed before it could be sent.
constexpr char kDroppedGlyph = '?';

bool is_sent_minute(const Station& station, const SimulatedTime& t) {
  if (t.tm_sec != 0) return false;
  return !station.skips_call_sign_minutes || (t.tm_min != 15 && t.tm_min != 45);
}

// Queues the pulse of one symbol and shows its glyph.
void send_symbol(const Station& station, StationSymbol symbol) {
  const StationSymbolInfo& info = station.symbols[symbol];
  carrier_send(info.shape);
  std::putchar(info.glyph);
}

// Tells the output each shape before its second, so that a sound card can
// lay it out ahead of its latency; the serial port has no use for it.
void announce_frame(const Station& station, const StationFrame& frame,
                    std::int64_t first_host_second) {
  for (int position = 0; position < 60; ++position)
    carrier_announce(first_host_second + position, station.symbols[frame[position]].shape);
}

// Ticks to the last second of the minute and ends the wait with the symbol
// that closes every frame, sent in second 59 where a frame's own stands, so
// that the next frame's position 0 follows it in the next second.
void wait_for_next_minute(const Station& station, const SimulatedTime& t) {
  const int seconds_left = 60 - t.tm_sec;
  std::printf("Wait %02d sec...", seconds_left);
  for (int i = 1; i < seconds_left; ++i) {
    if (!tick()) {
      // The host was suspended or starved: find the second again and let
      // the next pass read the time anew.
      align_to_second(true);
      break;
    }
  }
  std::printf("Done.%40s", "");
  tick();
  send_symbol(station, station.closing_symbol);
  std::putchar('\n');
}

// Sends the frame from the next change of the host's second, one symbol per
// tick. A symbol whose second has already passed, because the tick was late
// or its sleep overran (a suspended or starved host), is dropped rather than
// sent late: no pulse ever goes out outside its own second.
void send_frame(const Station& station, const StationFrame& frame) {
  align_to_second(false);
  for (int position = 0; position < 60; ++position) {
    send_symbol(station, frame[position]);
    if (position == 59) break;
    // A late tick leaves the reference at the second just sent, one behind.
    const int seconds_behind = tick() ? 0 : 1;
    const int seconds_missed = catch_up_to_current_second() - seconds_behind;
    for (int missed = 0; missed < seconds_missed && position < 59; ++missed) {
      std::putchar(kDroppedGlyph);
      ++position;
    }
  }
}

}  // namespace

void begin_transmission(Transmission& transmission) {
  transmission.frame.fill(0);
  align_to_second(true);
}

bool transmission_pass(Transmission& transmission) {
  const Station& station = *transmission.station;
  const std::int64_t now = simulated_seconds(transmission.offset_sec);
  SimulatedTime t;
  if (!local_time(now, t)) return false;
  std::printf("%02d:%02d:%02d ==> ", t.tm_hour, t.tm_min, t.tm_sec);
  // The pass begins in the host second before the one `now` names.
  const std::int64_t next_host_second = now - transmission.offset_sec;
  if (!is_sent_minute(station, t)) {
    carrier_announce(next_host_second + 59 - t.tm_sec,
                     station.symbols[station.closing_symbol].shape);
    wait_for_next_minute(station, t);
    return true;
  }
  std::string carries;
  if (!station.encode(now, local_time, transmission.frame, carries)) return false;
  announce_frame(station, transmission.frame, next_host_second);
  send_frame(station, transmission.frame);
  if (!carries.empty()) std::printf(" %s", carries.c_str());
  std::putchar('\n');
  return true;
}

void run_transmission_loop(const Station& station, int offset_sec) {
  Transmission transmission;
  transmission.station = &station;
  transmission.offset_sec = offset_sec;
  begin_transmission(transmission);
  while (transmission_pass(transmission)) {
  }
}
