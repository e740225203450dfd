// The line monitor's core: reads the JJY time code back from the bytes a
// serial port receives from a line keyed by kolvan, with the time each chunk
// of them arrived. Pure: no clock, no device, no output of its own; it turns
// chunks into events, and the event lines are formatted here too.
//
// A pulse is a run of bytes whose arrivals are separated by less than
// kPulseGapUs of idle line; its length in characters gives its symbol, its
// onset (the arrival of its first chunk) gives the host second it belongs
// to. A minute starts at the second of two markers in consecutive seconds
// (positions 59 and 0), takes the next 59 seconds, and is decoded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "timecode/timecode.h"

// Idle line that ends a pulse. Between two pulses the line idles at least
// 200 ms, within one it never does.
constexpr std::int64_t kPulseGapUs = 100000;

// A pulse within this many characters of 768, 480 or 192 is that symbol:
// a few characters lost, or counted into a neighbouring chunk.
constexpr int kPulseToleranceChars = 24;

// A pulse belongs to the second that began at most this long after its
// onset, i.e. onsets from -250 ms to +750 ms around a second's start. kolvan
// never starts a pulse outside its own second; a small negative onset is a
// clock that differs from the sender's.
constexpr std::int64_t kEarlyOnsetUs = 250000;

// Returned by symbol lookups for a second that has no readable pulse.
constexpr std::int64_t kNoOnset = INT64_MIN;

struct LinePulse {
  std::int64_t onset_us = 0;   // arrival of its first chunk, µs of the real-time clock
  std::int64_t last_us = 0;    // arrival of its last chunk
  std::int64_t second = 0;     // the host second it belongs to, seconds since the epoch
  int bytes = 0;               // characters received
  int nonzero = 0;             // of them, characters other than zero
  bool readable = false;       // length and content make a symbol
  TimeCodeSymbol symbol = TimeCodeSymbol::Zero;  // when readable

  // Onset after the start of its second; negative when it came early.
  std::int64_t onset_in_second_us() const { return onset_us - second * 1000000; }
};

// The symbol of a pulse of `bytes` characters: false for a length that is
// none of the three.
bool classify_pulse(int bytes, TimeCodeSymbol& symbol);

// One minute of the line, from position 0 to 59.
struct LineMinute {
  std::int64_t first_second = 0;         // host second of position 0
  TimeCodeFrame frame{};                 // symbols; meaningful where onset_us is set
  std::array<std::int64_t, 60> onset_us;  // onset per position, kNoOnset without a readable pulse
  int unread = 0;                        // positions without a readable pulse
  bool decoded = false;
  DecodedMinute fields{};                // when decoded
  int year = 0, month = 0, day = 0;      // calendar date of the fields, when decoded
  std::string reason;                    // why not, when not decoded

  LineMinute() { onset_us.fill(kNoOnset); }
};

enum class LineEventKind {
  Pulse,           // a readable pulse (not shown by the monitor, used by the benchmark)
  UnexpectedPulse, // a pulse of no symbol's length, or with characters other than zero
  ExtraPulse,      // a second pulse in a second that already has one
  MissingPulses,   // seconds between two pulses that had none
  SilentMinute,    // minute 15 or 45 of the sender, which carries no frame
  Minute,          // a minute assembled: decoded or not
};

struct LineEvent {
  LineEventKind kind = LineEventKind::Pulse;
  LinePulse pulse;                     // Pulse, UnexpectedPulse, ExtraPulse
  std::int64_t first_missing = 0;      // MissingPulses, SilentMinute: first second without pulse
  std::int64_t last_missing = 0;       //   and the last
  int silent_hour = 0, silent_minute = 0;  // SilentMinute: the sender's minute
  LineMinute minute;                   // Minute
};

// The monitor's state between chunks. Feed it every chunk in order of
// arrival, and call idle() whenever no chunk came for a while (every poll
// timeout), so that the last pulse ends without waiting for the next one.
class LineMonitor {
 public:
  // `count` bytes that arrived at `arrival_us` (CLOCK_REALTIME, µs).
  void feed(const unsigned char* bytes, std::size_t count, std::int64_t arrival_us,
            std::vector<LineEvent>& events);

  // Nothing arrived up to `now_us`: ends a pulse whose line has been idle
  // long enough, and a minute whose last second has passed.
  void idle(std::int64_t now_us, std::vector<LineEvent>& events);

 private:
  void end_pulse(std::vector<LineEvent>& events);
  void place(const LinePulse& pulse, std::vector<LineEvent>& events);
  void report_gap(const LinePulse& pulse, std::vector<LineEvent>& events);
  void start_minute(std::int64_t first_second);
  void finish_minute(std::vector<LineEvent>& events);

  bool pulse_open_ = false;
  LinePulse pulse_;                  // the pulse being received

  bool have_last_ = false;
  std::int64_t last_second_ = 0;     // second of the last pulse placed
  bool last_was_marker_ = false;     // and whether it was a marker

  bool have_phase_ = false;          // minutes start at seconds phase_second_ + 60 k
  std::int64_t phase_second_ = 0;

  bool minute_open_ = false;
  LineMinute minute_;                // the minute being assembled
  bool have_previous_ = false;       // a minute ended with position 59 at last_second_
  LineMinute previous_;              // the last minute finished
};

// The line the monitor prints for an event; empty for events it doesn't
// show (readable pulses). Times of day are the host's local time.
//   decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 3 ms
//   undecodable minute: minute parity (PA2) mismatch
//   unexpected pulse of 300 bytes at 09:31:12.004
//   extra pulse of 192 bytes at 09:31:12.504
//   missing pulse at 09:31:13
//   missing pulses from 09:31:13 to 09:31:20 (8 seconds)
//   no frame in minute 09:15 (minutes 15 and 45 carry none)
std::string format_line_event(const LineEvent& event);

// Onset of a minute's position 0 after its second, in whole milliseconds
// (rounded to nearest).
long minute_onset_ms(const LineMinute& minute);
