// A long-wave time station's code as kolvan sends and reads it: its symbols,
// the shape each one keys into a second, its glyphs, and the encoder and
// decoder of its minute. The station is chosen once at start-up; the loop,
// the console and the monitor use it only through this table, so a new
// station is a new file of tables and loops, not a switch elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

// A second's symbol: an index into its station's `symbols`.
using StationSymbol = unsigned char;

// Indexed by the second of the minute; position 0 goes out at the top of it.
using StationFrame = std::array<StationSymbol, 60>;

// Characters per second at 9600 baud 8N1: the unit of every keyed run.
constexpr int kLineCharsPerSecond = 960;

// How one second keys the carrier, from the start of the second: a keyed
// run, then an unkeyed run, then a keyed run again, in characters at 960 a
// second. Keyed is the line at space (zero bytes); an unkeyed run between
// two keyed ones is sent as 0xFF bytes, which hold the line at mark but for
// their start bits. After the last keyed run the line idles. Runs of 0 are
// absent; a shape of all zeros sends nothing in its second.
struct PulseShape {
  int keyed = 0;
  int gap = 0;
  int keyed_again = 0;
};

// A second keyed from start to end: with one in each second the line stays
// at space without a break.
constexpr PulseShape kWholeSecondKeyed = {kLineCharsPerSecond, 0, 0};

// The shape of a second of the carrier at full level, no code: keyed
// throughout where keyed is the carrier high (JJY), else nothing.
inline PulseShape full_carrier_shape(bool keyed_is_carrier_high) {
  return keyed_is_carrier_high ? kWholeSecondKeyed : PulseShape{};
}

// Every character that one second's shape puts on the line.
inline int pulse_shape_chars(const PulseShape& shape) {
  return shape.keyed + shape.gap + shape.keyed_again;
}

struct StationSymbolInfo {
  char glyph;        // one character on the console
  PulseShape shape;  // how it keys its second
  const char* meaning;  // for --help: "0 bit", "position marker"...
};

// A minute as a station's frame carries it, read back by its decoder.
struct StationTime {
  int year = 0;         // e.g. 2026
  int month = 0;        // 1-12
  int day = 0;          // 1-31
  int hour = 0;         // 0-23
  int minute = 0;       // 0-59
  int day_of_week = 0;  // 0 = Sunday
  int day_of_year = 0;  // 1-366
  std::string zone;     // "" (JJY: the sender's local time), "UTC", "CET", "CEST", "GMT", "BST"
  std::string notes;    // flags worth showing, e.g. "summer time announced"; may be empty
  const char* checks = "parity ok";  // what held beyond the markers and fixed bits
};

// The host's local-time conversion of seconds since the epoch; false when
// it can't represent them.
using LocalTimeFn = bool (*)(std::int64_t seconds, std::tm& out);

// The same in the zone `zone` (an IANA name) from the system's zone data,
// whatever zone is sent: for a station whose summer-time bits follow the law
// of a zone other than the one whose time it sends (WWVB: UTC sent, the US
// law's bits). False when the system can't convert in that zone.
using ZoneTimeFn = bool (*)(const char* zone, std::int64_t seconds, std::tm& out);

struct Station {
  const char* name;              // as given to --station: "jjy40"
  const char* call_sign;         // "JJY"
  const char* time_note;         // for --help: which time the frames carry
  double carrier_hz;             // 40000
  // True when a keyed run means the carrier high (JJY); false when it means
  // the carrier reduced or off (WWVB, DCF77, MSF), so that the transmitter
  // or the sound output inverts the keying.
  bool keyed_is_carrier_high;
  // JJY alone sends its call sign, not a frame, in minutes 15 and 45.
  bool skips_call_sign_minutes;
  const StationSymbolInfo* symbols;
  int symbol_count;
  // The monitor finds a minute's start by a pair in every frame: the
  // closing symbol, then the first symbol in the next second, at
  // `first_symbol_position` (below). For most stations that is position 59
  // of one minute and position 0 of the next; BPC's minute opens with a
  // marker that sends nothing, so its pair is positions 0 and 1.
  StationSymbol first_symbol;
  StationSymbol closing_symbol;

  // Fills every position of `frame` with the code sent during the minute
  // that begins at `minute_start` (seconds since the epoch on the clock the
  // line carries). `carries` gets a short text of the minute the frame
  // describes when that isn't plain from the console line ("" for JJY).
  // `local` converts in the zone sent, `in_zone` in any other. False when
  // the time can't be converted.
  bool (*encode)(std::int64_t minute_start, LocalTimeFn local, ZoneTimeFn in_zone,
                 StationFrame& frame, std::string& carries);

  // Checks a frame as it came off the line and, when it holds, fills `out`;
  // otherwise `*reason` (when given) says why, e.g. "minute parity mismatch".
  bool (*decode)(const StationFrame& frame, StationTime& out, const char** reason);

  // The position of `first_symbol` in the minute: 0, or 1 after a silent marker.
  int first_symbol_position = 0;
  // One bit per position (1 << position) whose symbol sends nothing in every
  // frame (DCF77's 59, BPC's 0, 20 and 40): the monitor hears no pulse there
  // and takes that for the symbol, not for a pulse lost.
  std::uint64_t silent_positions = 0;
  // The zone whose time the station sends unless --zone names another (an
  // IANA name: "Europe/Berlin"); null for the host's own: JJY sends the
  // host's local time, as the program without options must
  // (Program.ShowsTheShiftedLocalTimeAndExitsCleanlyOnInterrupt).
  const char* zone = nullptr;

  // The carrier's amplitude when reduced (or low, for JJY), as a fraction of
  // the full carrier: 0 means off. An output that can make a level between
  // (a PWM pin, by its duty cycle) keys between this and full.
  double reduced_level = 0;
};

inline bool station_position_silent(const Station& station, int position) {
  return (station.silent_positions >> position & 1) != 0;
}

// The station of a --station name (jjy40, jjy, jjy60, wwvb, dcf77, msf, bpc), or
// null for a name that is none of them.
const Station* find_station(const char* name);

// The default: JJY on 40 kHz.
const Station& default_station();

// Every station, in the order --help lists them; null-terminated.
extern const Station* const kStations[];

// Their --station names in that order, comma-separated: "jjy40, jjy60, ...".
std::string station_names();

// Why a --station name was refused: "unknown station 'loran' (one of ...)".
std::string unknown_station_text(const char* name);

// The glyphs of a frame, position 0 first.
std::string station_frame_glyphs(const Station& station, const StationFrame& frame);
