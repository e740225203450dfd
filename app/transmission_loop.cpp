// The transmission loop: at the top of each minute it encodes that minute
// and sends its sixty symbols, one pulse per second; at any other second,
// and in minutes 15 and 45, it waits for the end of the minute. Each pass
// shows one line on the console.
#include "app/transmission_loop.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/clock_watch.h"
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

// At the start of each second: the pulse of a symbol and its glyph, or only
// "?" when its second began too long ago for the pulse to start on time (a
// late tick, a stalled host): a missing pulse is better than one that runs
// into the next second. The output's upkeep (a lost device tried again)
// comes afterwards, once a second, so that it never delays a pulse.
// Returns false when the symbol was dropped.
bool send_symbol(const Station& station, StationSymbol symbol) {
  const StationSymbolInfo& info = station.symbols[symbol];
  const bool on_time = second_just_began();
  if (on_time) {
    carrier_send(info.shape);
    std::putchar(info.glyph);
  } else {
    std::putchar(kDroppedGlyph);
  }
  carrier_upkeep();
  return on_time;
}

// Tells the output each shape before its second, so that an output with
// latency can lay it out ahead; one without leaves `announce` null.
void announce_frame(const Station& station, const StationFrame& frame,
                    std::int64_t first_host_second) {
  for (int position = 0; position < 60; ++position)
    carrier_announce(first_host_second + position, station.symbols[frame[position]].shape);
}

// Ticks to the last second of the minute and ends the wait with `last`,
// the symbol the minute's own frame holds in second 59, so that the next
// frame's position 0 follows it in the next second as it would a frame.
void wait_for_next_minute(const Station& station, const SimulatedTime& t, StationSymbol last) {
  const int seconds_left = 60 - t.tm_sec;
  std::printf("Wait %02d sec...", seconds_left);
  for (int i = 1; i < seconds_left; ++i) {
    if (!tick()) {
      // The host was suspended or starved: find the second again and let
      // the next pass read the time anew.
      align_to_second(true);
      break;
    }
    carrier_upkeep();
  }
  std::printf("Done.%40s", "");
  next_second();
  send_symbol(station, last);
  std::putchar('\n');
}

// Sends the frame from the start of the host second `first_second`, one
// symbol per second on the pacer's steps. The symbols of seconds that passed
// during a stall, and one whose second is already too far gone, are dropped
// ("?"); the frame goes on at the next second's start.
// Returns how many symbols were dropped; kClockSteppedBack, having sent and
// shown nothing, when the host clock went back before the frame's start.
int send_frame(const Station& station, const StationFrame& frame, std::int64_t first_second) {
  int position = align_to_calendar_second(first_second);
  if (position == kClockSteppedBack) return kClockSteppedBack;
  int dropped = 0;
  for (; dropped < position && dropped < 60; ++dropped) std::putchar(kDroppedGlyph);
  while (position < 60) {
    if (!send_symbol(station, frame[position])) ++dropped;
    if (position == 59) break;
    const int moved = next_second();
    for (int missed = 1; missed < moved && position + missed < 60; ++missed, ++dropped) {
      std::putchar(kDroppedGlyph);
    }
    position += moved;
  }
  return dropped;
}

}  // namespace

void begin_transmission(Transmission& transmission) {
  transmission.frame.fill(0);
  align_to_second(true);
}

bool transmission_pass(Transmission& transmission) {
  const Station& station = *transmission.station;
  watch_host_clock();
  // The host second the pacer stands in, read so that the two clocks
  // drifting apart can't make it the second before.
  const std::int64_t host_second = pacer_calendar_second();
  const std::int64_t now = simulated_seconds_at(host_second, transmission.offset_sec);
  SimulatedTime t;
  if (!time_sent(now, t)) return false;
  std::printf("%02d:%02d:%02d ==> ", t.tm_hour, t.tm_min, t.tm_sec);
  std::string carries;
  if (!is_sent_minute(station, t)) {
    // The wait ends in the last second of the minute with the symbol this
    // minute's frame has there: most stations' is fixed, BPC's is the last
    // of its date's bits, and no clock should hear a wrong one.
    if (!station.encode(now - t.tm_sec, local_time, zone_time, transmission.frame, carries))
      return false;
    const StationSymbol last = transmission.frame[59];
    carrier_announce(host_second + 60 - t.tm_sec, station.symbols[last].shape);
    wait_for_next_minute(station, t, last);
    return true;
  }
  if (!station.encode(now, local_time, zone_time, transmission.frame, carries)) return false;
  announce_frame(station, transmission.frame, host_second + 1);
  const int dropped = send_frame(station, transmission.frame, host_second + 1);
  if (dropped == kClockSteppedBack) {
    // Waiting for the old second would silence the output for as long as
    // the step: the next pass reads the time again instead.
    std::putchar('\n');
    std::fprintf(stderr, "kolvan: the host clock went back: %02d:%02d not sent, the time read again\n",
                 t.tm_hour, t.tm_min);
    return true;
  }
  ++transmission.frames_sent;
  if (!carries.empty()) std::printf(" %s", carries.c_str());
  std::putchar('\n');
  // After the console line, so as not to cut it.
  if (dropped > 0) {
    std::fprintf(stderr, "kolvan: the host was late: %d of the 60 pulses of %02d:%02d dropped\n",
                 dropped, t.tm_hour, t.tm_min);
  }
  return true;
}

bool run_transmission_loop(const Station& station, int offset_sec, int minutes) {
  Transmission transmission;
  transmission.station = &station;
  transmission.offset_sec = offset_sec;
  transmission.minutes = minutes;
  begin_transmission(transmission);
  while (transmission_pass(transmission)) {
    if (transmission.minutes > 0 && transmission.frames_sent >= transmission.minutes) {
      // The last pulse went out at the start of second 59: let it end.
      next_second();
      return true;
    }
  }
  return false;
}
