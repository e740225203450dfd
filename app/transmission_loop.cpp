// The transmission loop: at the top of each minute it encodes that minute
// and sends its sixty symbols, one pulse per second; at any other second,
// and in minutes 15 and 45, it waits for the end of the minute. Each pass
// shows one line on the console.
#include "app/transmission_loop.h"

#include <cstdio>

#include "app/simulated_time.h"
#include "carrier/carrier.h"
#include "pacing/pacer.h"

namespace {

// Shown in the column of a symbol whose second passed before it could be sent.
constexpr char kDroppedGlyph = '?';

int pulse_chars(TimeCodeSymbol symbol) {
  switch (symbol) {
    case TimeCodeSymbol::Zero: return kZeroPulseChars;
    case TimeCodeSymbol::One: return kOnePulseChars;
    case TimeCodeSymbol::Marker: break;
  }
  return kMarkerPulseChars;
}

bool is_sent_minute(const SimulatedTime& t) {
  return t.tm_sec == 0 && t.tm_min != 15 && t.tm_min != 45;
}

// Ticks to the last second of the minute and ends the wait with one marker,
// sent in second 59 where a frame's last marker stands, so that the next
// frame's position 0 follows it in the next second.
void wait_for_next_minute(const SimulatedTime& t) {
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
  send_pulse(kMarkerPulseChars);
  std::printf("%c\n", symbol_glyph(TimeCodeSymbol::Marker));
}

// Sends the frame from the next change of the host's second, one symbol per
// tick. A symbol whose second has already passed, because the tick was late
// or its sleep overran (a suspended or starved host), is dropped rather than
// sent late: no pulse ever goes out outside its own second.
void send_frame(const TimeCodeFrame& frame) {
  align_to_second(false);
  for (int position = 0; position < 60; ++position) {
    send_pulse(pulse_chars(frame[position]));
    std::putchar(symbol_glyph(frame[position]));
    if (position == 59) break;
    // A late tick leaves the reference at the second just sent, one behind.
    const int seconds_behind = tick() ? 0 : 1;
    const int seconds_missed = catch_up_to_current_second() - seconds_behind;
    for (int missed = 0; missed < seconds_missed && position < 59; ++missed) {
      std::putchar(kDroppedGlyph);
      ++position;
    }
  }
  std::putchar('\n');
}

}  // namespace

void begin_transmission(TimeCodeFrame& frame) {
  frame = make_frame();
  align_to_second(true);
}

bool transmission_pass(TimeCodeFrame& frame, int offset_sec) {
  SimulatedTime t;
  if (!simulated_time(offset_sec, t)) return false;
  std::printf("%02d:%02d:%02d ==> ", t.tm_hour, t.tm_min, t.tm_sec);
  if (!is_sent_minute(t)) {
    wait_for_next_minute(t);
    return true;
  }
  encode_frame(frame, t);
  send_frame(frame);
  return true;
}

void run_transmission_loop(int offset_sec) {
  TimeCodeFrame frame;
  begin_transmission(frame);
  while (transmission_pass(frame, offset_sec)) {
  }
}
