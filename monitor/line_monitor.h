// The line monitor's core: reads a station's time code back from the bytes
// a serial port receives from a line keyed by kolvan, with the time each
// chunk of them arrived. Pure: no clock, no device, no output of its own; it
// turns chunks into events, and says the line of each (line_format.cpp).
//
// A pulse is a run of bytes whose arrivals are separated by less than
// kPulseGapUs of idle line; its onset (the arrival of its first chunk) gives
// the host second it belongs to, its shape the symbol (minute_reader.h). The
// same pulses are read as every other station's too, so that a line keyed
// for another station is named as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/minute_reader.h"
#include "stations/station.h"

// The monitor's state between chunks. Feed it every chunk in order of
// arrival, and call idle() whenever no chunk came for a while (every poll
// timeout), so that the last pulse ends without waiting for the next one.
class LineMonitor {
 public:
  explicit LineMonitor(const Station& station = default_station());

  // `count` bytes that arrived at `arrival_us` (CLOCK_REALTIME, µs).
  void feed(const unsigned char* bytes, std::size_t count, std::int64_t arrival_us,
            std::vector<LineEvent>& events);

  // Nothing arrived up to `now_us`: ends a pulse whose line has been idle
  // long enough, and a minute whose last second has passed.
  void idle(std::int64_t now_us, std::vector<LineEvent>& events);

 private:
  void end_pulse(std::vector<LineEvent>& events);
  void watch_others(std::size_t first_event, const std::vector<LineEvent>& others,
                    const Station& other, std::vector<LineEvent>& events);

  bool pulse_open_ = false;
  LinePulse pulse_;                  // the pulse being received

  MinuteReader reader_;              // the station asked for
  std::vector<MinuteReader> others_; // one for each other code
  std::vector<LineEvent> scratch_;   // the others' events, looked at and dropped
  bool have_decoded_ = false;        // the station asked for decoded a minute
  std::int64_t decoded_second_ = 0;  //   starting at this second
  bool named_other_ = false;         // another station named since
};

// The line the monitor prints for an event; empty for events it doesn't
// show (readable pulses). Times of day are the host's local time. JJY's
// decoded minutes show no zone, the others' do, and their notes.
//   decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 3 ms
//   decoded 2026-12-07 09:32 Mon CET, day 341, parity ok, onset 3 ms
//   undecodable minute: minute parity (PA2) mismatch
//   unexpected pulse of 300 bytes at 09:31:12.004
//   extra pulse of 192 bytes at 09:31:12.504
//   missing pulse at 09:31:13
//   missing pulses from 09:31:13 to 09:31:20 (8 seconds)
//   no frame in minute 09:15 (minutes 15 and 45 carry none)
//   the line looks like DCF77, not JJY: try --station=dcf77
std::string format_line_event(const LineEvent& event);

// Onset of a minute's position 0 after its second, in whole milliseconds
// (rounded to nearest).
long minute_onset_ms(const LineMinute& minute);
