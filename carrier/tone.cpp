// The sound card's signal: the tone a rate can carry and the samples of
// each announced second, with their ramps. See tone.h.
#include "carrier/tone.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/units.h"

namespace {

constexpr std::int64_t kTimeJumpNs = 30000000;  // 30 ms
constexpr std::int64_t kTimeSmoothing = 8;      // blocks

// The lowest rate at which a tone of `hz` still comes out clean, and the
// highest tone a rate is asked to carry (below its Nyquist limit, with room
// for the output's anti-alias filter).
constexpr double kCarrierRateFactor = 2.2;
constexpr double kHighestToneOfRate = 0.45;

const char* ordinal_suffix(int n) {
  if (n % 100 >= 11 && n % 100 <= 13) return "th";
  switch (n % 10) {
    case 1: return "st";
    case 2: return "nd";
    case 3: return "rd";
    default: return "th";
  }
}

std::int64_t chars_to_samples(int chars, int rate) {
  return std::llround(static_cast<double>(chars) * rate / kLineCharsPerSecond);
}

// The sample on which `second` begins, by the block's time.
std::int64_t sample_of_second(const ToneState& state, std::int64_t second,
                              std::int64_t first_sample_ns) {
  const double ns = static_cast<double>(second * kSecondNs - first_sample_ns);
  return state.sample + std::llround(ns * state.setup.rate / kSecondNs);
}

std::int64_t ramp_half_samples(const ToneState& state) {
  return std::llround(kRampHalfSec * state.setup.rate);
}

void add_edge(ToneState& state, std::int64_t sample) {
  if (state.edge_count < static_cast<int>(state.edges.size())) state.edges[state.edge_count++] = sample;
}

// Makes `second` the one laid out, starting on `start`. Edges whose ramps
// ended before this second's first ramp can begin are folded into
// `keyed_before`.
void lay_out(ToneState& state, std::int64_t second, std::int64_t start, const PulseShape& shape) {
  const std::int64_t settled = start - 2 * ramp_half_samples(state);
  int folded = 0;
  while (folded < state.edge_count && state.edges[folded] <= settled) ++folded;
  if (folded % 2 == 1) state.keyed_before = !state.keyed_before;
  for (int i = folded; i < state.edge_count; ++i) state.edges[i - folded] = state.edges[i];
  state.edge_count -= folded;

  state.second = second;
  state.shape = shape;
  state.second_start_sample = start;
  const int rate = state.setup.rate;
  std::int64_t at = start;
  if (shape.keyed > 0) {
    add_edge(state, at);
    at += chars_to_samples(shape.keyed, rate);
    add_edge(state, at);
  }
  if (shape.keyed_again > 0) {
    at += chars_to_samples(shape.gap, rate);
    add_edge(state, at);
    add_edge(state, at + chars_to_samples(shape.keyed_again, rate));
  }
}

// How far sample `a` is keyed, 0 to 1, ramps included.
double keyed_level(const ToneState& state, std::int64_t a) {
  const double half = static_cast<double>(ramp_half_samples(state));
  double level = state.keyed_before ? 1 : 0;
  bool rising = !state.keyed_before;
  for (int i = 0; i < state.edge_count; ++i) {
    const double x = static_cast<double>(a - state.edges[i]);
    double ramp = half > 0 ? (x + half) / (2 * half) : (x >= 0 ? 1 : 0);
    ramp = ramp < 0 ? 0 : (ramp > 1 ? 1 : ramp);
    level += rising ? ramp : -ramp;
    rising = !rising;
  }
  return level;
}

}  // namespace

bool choose_tone(double carrier_hz, int rate, bool rate_is_hardware, ToneSetup& setup) {
  if (rate <= 0 || carrier_hz <= 0) return false;
  setup.rate = rate;
  if (rate_is_hardware && rate >= kCarrierRateFactor * carrier_hz) {
    setup.tone_hz = carrier_hz;
    setup.harmonic = 1;
    return true;
  }
  for (int harmonic = 3; harmonic <= 15; harmonic += 2) {
    if (carrier_hz / harmonic <= kHighestToneOfRate * rate) {
      setup.tone_hz = carrier_hz / harmonic;
      setup.harmonic = harmonic;
      return true;
    }
  }
  return false;
}

std::string describe_tone(const ToneSetup& setup, double carrier_hz) {
  char text[128];
  if (setup.harmonic == 1) {
    std::snprintf(text, sizeof text, "audio: %d Hz, %.0f Hz tone, the carrier itself",
                  setup.rate, setup.tone_hz);
  } else {
    std::snprintf(text, sizeof text, "audio: %d Hz, %.0f Hz tone, %d%s harmonic on %g kHz",
                  setup.rate, std::floor(setup.tone_hz), setup.harmonic,
                  ordinal_suffix(setup.harmonic), carrier_hz / 1000);
  }
  return text;
}

double tone_level(const ToneState& state, std::int64_t a) {
  const double keyed = keyed_level(state, a);
  return state.keyed_is_high ? keyed : 1 - keyed;
}

void start_tone(ToneState& state, const ToneSetup& setup, bool keyed_is_high) {
  state = ToneState{};
  state.setup = setup;
  state.keyed_is_high = keyed_is_high;
}

namespace {

// The time of the block's first sample as the renderer takes it: the
// device's reports jitter by a fraction of a millisecond (more under some
// drivers), so they are followed through a low-pass filter from one block
// to the next; a report that differs by more than kTimeJumpNs is a jump (a
// buffer lost, the clock stepped) and is taken as it is. True on a jump.
bool follow_time(ToneState& state, std::int64_t& first_sample_ns) {
  const std::int64_t predicted =
      state.anchor_ns + (state.sample - state.anchor_sample) * kSecondNs / state.setup.rate;
  const std::int64_t error = first_sample_ns - predicted;
  const bool jump = state.second == INT64_MIN || std::llabs(error) > kTimeJumpNs;
  state.anchor_sample = state.sample;
  state.anchor_ns = jump ? first_sample_ns : predicted + error / kTimeSmoothing;
  first_sample_ns = state.anchor_ns;
  return jump;
}

}  // namespace

void render_tone(ToneState& state, const ShapeSchedule& schedule, std::int64_t first_sample_ns,
                 std::int16_t* out, int frames) {
  const int rate = state.setup.rate;
  const std::int64_t end = state.sample + frames;
  const std::int64_t half = ramp_half_samples(state);
  const bool jump = follow_time(state, first_sample_ns);
  // A clock stepped back by more than a second puts the second in play
  // that far ahead: waiting for it would leave the line silent for the
  // whole step.
  const bool stepped_back =
      jump && state.second != INT64_MIN &&
      sample_of_second(state, state.second, first_sample_ns) > state.sample + rate;
  if (state.second == INT64_MIN || stepped_back ||
      sample_of_second(state, state.second + 1, first_sample_ns) < state.sample - rate) {
    // The first block, one after a long break, or after the clock stepped
    // back: the second in play keys nothing (a pulse cut short would read
    // as a wrong symbol); the next one starts on time.
    const std::int64_t second = floor_div(first_sample_ns, kSecondNs);
    state.edge_count = 0;
    state.keyed_before = false;
    lay_out(state, second, sample_of_second(state, second, first_sample_ns), PulseShape{});
  } else if (jump) {
    // The second in play is laid out again from its start, by the new time.
    state.edge_count = 0;
    state.keyed_before = false;
    lay_out(state, state.second, sample_of_second(state, state.second, first_sample_ns),
            state.shape);
  }
  for (;;) {
    const std::int64_t next = state.second + 1;
    const std::int64_t start = sample_of_second(state, next, first_sample_ns);
    if (start - half >= end) break;
    PulseShape shape;
    scheduled_shape(schedule, next, shape);
    lay_out(state, next, start, shape);
  }

  // The tone by rotation, a few multiplications a sample; its phase is
  // carried between blocks in cycles, exactly.
  const double step = state.setup.tone_hz / rate;
  const double turn_cos = std::cos(2 * kPi * step), turn_sin = std::sin(2 * kPi * step);
  double c = std::cos(2 * kPi * state.phase), s = std::sin(2 * kPi * state.phase);
  // Away from every edge's ramp the level holds for the whole block.
  bool steady = true;
  for (int e = 0; e < state.edge_count; ++e)
    steady = steady && (state.edges[e] + half < state.sample || state.edges[e] - half > end);
  const double steady_level = tone_level(state, state.sample);
  for (int i = 0; i < frames; ++i) {
    const double level = steady ? steady_level : tone_level(state, state.sample + i);
    out[i] = static_cast<std::int16_t>(std::lround(32767 * level * s));
    const double next_c = c * turn_cos - s * turn_sin;
    s = s * turn_cos + c * turn_sin;
    c = next_c;
  }
  state.phase = std::fmod(state.phase + step * frames, 1.0);
  state.sample = end;
  if (!schedule.announced) std::fill(out, out + frames, std::int16_t{0});
}
