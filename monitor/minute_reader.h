// One station's reading of a line: pulses, already cut from the bytes and
// placed in their host second, become that station's symbols, seconds and
// minutes, decoded through the station's own decoder. Everything it knows
// of the station is in its table: the shapes of its symbols, the symbols
// that open and close a minute, whether it skips minutes 15 and 45.
//
// A pulse is a symbol when its length is within kPulseToleranceChars of
// that symbol's characters and its characters other than zero (a gap sent
// as 0xFF bytes) match the symbol's gap likewise. A minute starts at a pulse
// of the first symbol in the second right after one of the closing symbol;
// where the closing symbol sends nothing, after a silent second between two
// pulses, or after a longer silence while no minute's phase is known. The
// first symbol stands at the station's first_symbol_position (BPC's minute
// opens with a silent marker, so its first pulse is at 1), and positions the
// station keeps silent in every frame are read as its silent symbol; before
// the first minute's start, a lone silent second is taken for one of them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "stations/station.h"

// Idle line that ends a pulse. Between two pulses the line idles at least
// 200 ms, within one it never does.
constexpr std::int64_t kPulseGapUs = 100000;

// A pulse belongs to the second that began at most this long after its
// onset, i.e. onsets from -250 ms to +750 ms around a second's start. kolvan
// never starts a pulse outside its own second; a small negative onset is a
// clock that differs from the sender's.
constexpr std::int64_t kEarlyOnsetUs = 250000;

// A pulse within this many characters of a symbol's length is that symbol:
// a few characters lost, or counted into a neighbouring chunk.
constexpr int kPulseToleranceChars = 24;

// Returned by symbol lookups for a second that has no readable pulse.
constexpr std::int64_t kNoOnset = INT64_MIN;

struct LinePulse {
  std::int64_t onset_us = 0;   // arrival of its first chunk, µs of the real-time clock
  std::int64_t last_us = 0;    // arrival of its last chunk
  std::int64_t second = 0;     // the host second it belongs to, seconds since the epoch
  // 64-bit: a line that never pauses must not overflow them.
  std::int64_t bytes = 0;      // characters received
  std::int64_t nonzero = 0;    // of them, characters other than zero
  bool readable = false;       // length and content make a symbol of the station
  StationSymbol symbol = 0;    // when readable

  // Onset after the start of its second; negative when it came early.
  std::int64_t onset_in_second_us() const { return onset_us - second * 1000000; }
};

// The station's symbol of a pulse of `bytes` characters, `nonzero` of them
// not zero: false when it is none of them. Symbols that send nothing match
// no pulse.
bool classify_pulse(const Station& station, std::int64_t bytes, std::int64_t nonzero,
                    StationSymbol& symbol);

// One minute of the line, from position 0 to 59.
struct LineMinute {
  std::int64_t first_second = 0;          // host second of position 0
  StationFrame frame{};                   // symbols; meaningful where onset_us is set
  std::array<std::int64_t, 60> onset_us;  // onset per position, kNoOnset without a readable pulse
  int unread = 0;                         // positions without a readable pulse
  bool decoded = false;
  StationTime time;                       // the minute the frame carries, when decoded
  std::string reason;                     // why not, when not decoded

  LineMinute() { onset_us.fill(kNoOnset); }
};

enum class LineEventKind {
  Pulse,           // a readable pulse (not shown by the monitor, used by the benchmark)
  UnexpectedPulse, // a pulse of no symbol's shape
  ExtraPulse,      // a second pulse in a second that already has one
  MissingPulses,   // seconds between two pulses that had none
  SilentMinute,    // minute 15 or 45 of JJY, which carries no frame
  Minute,          // a minute assembled: decoded or not
  WrongStation,    // the line carries another station's code
};

struct LineEvent {
  LineEventKind kind = LineEventKind::Pulse;
  LinePulse pulse;                     // Pulse, UnexpectedPulse, ExtraPulse
  std::int64_t first_missing = 0;      // MissingPulses, SilentMinute: first second without pulse
  std::int64_t last_missing = 0;       //   and the last
  int silent_hour = 0, silent_minute = 0;  // SilentMinute: the sender's minute
  LineMinute minute;                   // Minute
  const Station* asked = nullptr;      // WrongStation: the station the monitor reads
  const Station* found = nullptr;      //   and the one the line decodes as
};

// A station's minutes from the pulses of a line, in order of arrival.
class MinuteReader {
 public:
  explicit MinuteReader(const Station& station) : station_(&station) {}

  const Station& station() const { return *station_; }

  // Classifies `pulse` and places it.
  void read(LinePulse pulse, std::vector<LineEvent>& events);

  // Nothing arrived up to `now_us`, and no pulse is being received: ends a
  // minute whose last second has passed.
  void idle(std::int64_t now_us, std::vector<LineEvent>& events);

 private:
  bool closing_is_silent() const;
  bool starts_minute(const LinePulse& pulse) const;
  bool closing_second(std::int64_t second, const LinePulse& pulse, bool starts) const;
  void report_gap(const LinePulse& pulse, bool starts, std::vector<LineEvent>& events);
  void start_minute(std::int64_t first_second);
  void finish_minute(std::vector<LineEvent>& events);

  const Station* station_;

  bool have_last_ = false;
  std::int64_t last_second_ = 0;     // second of the last pulse placed
  bool last_was_closing_ = false;    // and whether it was the closing symbol
  bool have_quiet_ = false;          // before any pulse, the line was heard idle
  std::int64_t quiet_from_second_ = 0;  //   from this second on

  bool have_phase_ = false;          // minutes start at seconds phase_second_ + 60 k
  std::int64_t phase_second_ = 0;

  bool minute_open_ = false;
  LineMinute minute_;                // the minute being assembled
  bool have_previous_ = false;       // a minute ended with position 59 at last_second_
  LineMinute previous_;              // the last minute finished
};
