// The monitor's reading of a sound card's time code, as a pure core: samples
// with the time of the first in, the tone's envelope at the station's tone
// and carrier frequencies, its keyed runs, and each second's pulse handed to
// the line monitor as the bytes a serial line would have carried (zero bytes
// for keyed time at 960 a second, 0xFF for an unkeyed gap inside a pulse),
// so that the same core places and decodes them.
#pragma once

#include <cstdint>
#include <vector>

#include "monitor/line_monitor.h"
#include "stations/station.h"

// Keyed runs closer than this belong to one pulse (MSF's 0.1 s gap); between
// two seconds' pulses the keying rests at least 0.2 s.
constexpr std::int64_t kPulseGroupGapUs = 150000;

// No station keys a second for longer than this: what goes on longer (a
// stuck tone, a step of the host clock in the middle of a pulse) is no
// pulse, and is dropped. It also bounds what the detector holds.
constexpr std::int64_t kLongestPulseUs = 1000000;

// The detector's state between blocks.
struct AudioEnvelope {
  int rate = 0;
  bool keyed_is_high = true;   // keyed = tone on (JJY); else keyed = tone off
  int tones = 0;               // frequencies listened to: the subharmonic, and the carrier
  double step[2] = {0, 0};     // their phase steps, cycles a sample
  // Each frequency's oscillator, turned by rotation a sample at a time and
  // set back on the unit circle every block.
  double osc_cos[2] = {1, 1}, osc_sin[2] = {0, 0};
  double turn_cos[2] = {1, 1}, turn_sin[2] = {0, 0};
  int window = 1;              // samples averaged: about a millisecond
  std::vector<double> ring;    // the last `window` products, I and Q per tone
  double sum[4] = {0, 0, 0, 0};
  int ring_at = 0;
  double peak = 0;             // the tone's recent full level
  bool on = false;             // the tone is on
  double last_level = 0;
  std::int64_t half_crossing_us = 0;  // when the level last crossed half the peak
  // A rise is dated once the level has settled, against half of where it
  // settled: the recent levels and their times, and the samples still to wait.
  std::vector<double> history;
  std::vector<std::int64_t> history_us;
  int history_at = 0;
  int history_filled = 0;      // entries written: a rise never dates before the first sample
  int rise_wait = -1;          // -1: no rise pending
  // The pulse being read: its keyed runs' edges, start and end in turn.
  std::vector<std::int64_t> edges;
};

// Listens at `rate` for `station`: the odd subharmonic a sound card plays
// at that rate, and the carrier itself when the rate can hold it.
void start_envelope(AudioEnvelope& envelope, int rate, const Station& station);

// The frequencies listened to, for the monitor's first line.
std::vector<double> envelope_tones(const AudioEnvelope& envelope);

// Reads `count` mono samples, the first at `first_us` (real-time clock, µs),
// feeds every pulse that ended to `monitor` and lets it see the time up to
// the end of the block (never past the onset of a pulse still being read).
void feed_envelope(AudioEnvelope& envelope, const std::int16_t* samples, int count,
                   std::int64_t first_us, LineMonitor& monitor, std::vector<LineEvent>& events);
