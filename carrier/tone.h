// The sound card's signal, as a pure core: which tone a rate can carry for a
// station, and the samples of the keying that the schedule of announced
// shapes (carrier/ahead.h) gives each host second, with short ramps at its
// edges. No device and no clock: the time of the
// first sample of each block is given in, so tests drive it on plain buffers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "carrier/ahead.h"
#include "stations/station.h"

// What goes out: `tone_hz` at `rate`, the carrier itself (harmonic 1) or an
// odd subharmonic whose `harmonic`-th harmonic falls on the carrier.
struct ToneSetup {
  int rate = 0;
  double tone_hz = 0;
  int harmonic = 1;
};

// The carrier itself when `rate` is at least 2.2 x the carrier and the rate
// reaches the hardware as it is (`rate_is_hardware`); otherwise the lowest
// odd subharmonic below 0.45 x the rate. False when even that doesn't fit.
bool choose_tone(double carrier_hz, int rate, bool rate_is_hardware, ToneSetup& setup);

// "audio: 48000 Hz, 13333 Hz tone, 3rd harmonic on 40 kHz"
std::string describe_tone(const ToneSetup& setup, double carrier_hz);

// Half the length of an edge's ramp: each edge rises or falls over 2 x this,
// centred on the edge's instant, so that the width between the half-level
// points is the shape's width exactly.
constexpr double kRampHalfSec = 0.0005;

// The renderer's state between blocks.
struct ToneState {
  ToneSetup setup;
  bool keyed_is_high = true;   // the station's polarity: keyed = tone on
  std::int64_t sample = 0;     // index of the next sample rendered
  double phase = 0;            // of the tone, in cycles, at `sample`
  // The time of sample `anchor_sample`, as the device's reports give it
  // after smoothing.
  std::int64_t anchor_sample = 0;
  std::int64_t anchor_ns = 0;
  // The last second laid out: its host second, its shape and the sample its
  // start fell on.
  std::int64_t second = INT64_MIN;
  PulseShape shape;
  std::int64_t second_start_sample = 0;
  // The keying in samples: keyed before every edge when `keyed_before`,
  // then each edge turns it over (an edge of the second laid out next may
  // be among them, its ramp beginning before that second).
  bool keyed_before = false;
  std::array<std::int64_t, 8> edges{};
  int edge_count = 0;
};

void start_tone(ToneState& state, const ToneSetup& setup, bool keyed_is_high);

// Renders `frames` mono samples (full scale when the tone is on, silence
// when off) that leave the device from `first_sample_ns` on, nanoseconds of
// the real-time clock. Each host second that begins within the block starts
// its scheduled shape on the sample nearest its instant; a second without a
// shape keys nothing. The block's time is smoothed over a few blocks, as the
// device's reports jitter; when it is not within 30 ms of where the last
// block's samples lead (a buffer lost, a clock step), it is taken as it is
// and the second in play is laid out again from its start instant; after a
// step back of more than a second, the next second starts on time instead.
// Until the schedule's first announcement the block is silence, whatever
// the station's polarity: nothing is keyed before the loop starts.
void render_tone(ToneState& state, const ShapeSchedule& schedule, std::int64_t first_sample_ns,
                 std::int16_t* out, int frames);

// The tone's level, 0 (silent) to 1 (full scale), at sample `a` as laid out
// so far (a sample of the block just rendered, or of the next second laid
// out ahead of it).
double tone_level(const ToneState& state, std::int64_t a);
