// The tone's envelope: each listened frequency mixed down to I and Q and
// averaged over a millisecond, the stronger taken; the tone is on above 60 %
// of its recent full level and off below 40 %, and each edge is dated where
// the level crossed half, less the half window the average lags by.
#include "monitor/audio_envelope.h"

#include <cmath>

#include "base/units.h"
#include "carrier/tone.h"

namespace {

constexpr double kOnFraction = 0.6;
constexpr double kOffFraction = 0.4;
// Below this amplitude (of 32767) there is no tone to read: about -50 dBFS.
constexpr double kLeastPeak = 100;
// The full level is forgotten over about ten seconds, so that a quieter
// source is read again after a louder one.
constexpr double kPeakMemorySec = 10;

bool keyed_when(const AudioEnvelope& envelope, bool on) { return on == envelope.keyed_is_high; }

// The pulse read so far as a serial line would carry it, fed at its onset.
// One that lasted longer than any station's is dropped.
void hand_over(AudioEnvelope& envelope, LineMonitor& monitor, std::vector<LineEvent>& events) {
  if (!envelope.edges.empty() && envelope.edges.back() - envelope.edges.front() > kLongestPulseUs) {
    envelope.edges.clear();
    return;
  }
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < envelope.edges.size(); ++i) {
    const std::int64_t us = envelope.edges[i + 1] - envelope.edges[i];
    const long chars = std::lround(static_cast<double>(us) * kLineCharsPerSecond / 1e6);
    bytes.insert(bytes.end(), static_cast<std::size_t>(chars), i % 2 == 0 ? 0x00 : 0xFF);
  }
  if (!bytes.empty()) monitor.feed(bytes.data(), bytes.size(), envelope.edges[0], events);
  envelope.edges.clear();
}

void on_edge(AudioEnvelope& envelope, bool on, std::int64_t at, LineMonitor& monitor,
             std::vector<LineEvent>& events) {
  envelope.on = on;
  // The host clock stepped back (a capture's blocks are dated by it): the
  // pulse being read is lost.
  if (!envelope.edges.empty() && at < envelope.edges.back() - kLongestPulseUs) envelope.edges.clear();
  // A level that crossed half before the last edge (noise at the edge's
  // foot) dates this one no earlier than that.
  if (!envelope.edges.empty() && at < envelope.edges.back()) at = envelope.edges.back();
  // Keying after a long enough rest starts the next pulse: the one read so
  // far is complete (a long block holds the end of one and the start of
  // the next).
  const bool keyed = keyed_when(envelope, on);
  if (keyed && !envelope.edges.empty() && at - envelope.edges.back() >= kPulseGroupGapUs)
    hand_over(envelope, monitor, events);
  // Keying that goes on past the longest pulse, or a step of the clock
  // forward, makes the pulse being read none: it is dropped.
  if (!envelope.edges.empty() && at - envelope.edges.front() > kLongestPulseUs) envelope.edges.clear();
  if (keyed) {
    envelope.edges.push_back(at);
  } else if (!envelope.edges.empty()) {
    envelope.edges.push_back(at);
  }
}

// The amplitude of the strongest listened frequency over the window.
double level_of(AudioEnvelope& envelope, std::int16_t sample) {
  double level = 0;
  for (int k = 0; k < envelope.tones; ++k) {
    const double c = envelope.osc_cos[k], s = envelope.osc_sin[k];
    const double in_phase = sample * c, quadrature = sample * s;
    envelope.osc_cos[k] = c * envelope.turn_cos[k] - s * envelope.turn_sin[k];
    envelope.osc_sin[k] = s * envelope.turn_cos[k] + c * envelope.turn_sin[k];
    double* slot = &envelope.ring[static_cast<std::size_t>(envelope.ring_at * 4 + 2 * k)];
    envelope.sum[2 * k] += in_phase - slot[0];
    envelope.sum[2 * k + 1] += quadrature - slot[1];
    slot[0] = in_phase;
    slot[1] = quadrature;
    const double amplitude =
        2 * std::hypot(envelope.sum[2 * k], envelope.sum[2 * k + 1]) / envelope.window;
    if (amplitude > level) level = amplitude;
  }
  if (++envelope.ring_at == envelope.window) envelope.ring_at = 0;
  return level;
}

void remember(AudioEnvelope& envelope, double level, std::int64_t at) {
  envelope.history[static_cast<std::size_t>(envelope.history_at)] = level;
  envelope.history_us[static_cast<std::size_t>(envelope.history_at)] = at;
  envelope.history_at = (envelope.history_at + 1) % static_cast<int>(envelope.history.size());
  if (envelope.history_filled < static_cast<int>(envelope.history.size())) ++envelope.history_filled;
}

// When the level, now settled, last rose through half of it; the level
// lags the sound by half the window.
std::int64_t settled_rise(const AudioEnvelope& envelope, double settled, std::int64_t lag_us) {
  const int size = static_cast<int>(envelope.history.size());
  std::int64_t at = envelope.history_us[static_cast<std::size_t>((envelope.history_at + size - 1) % size)];
  for (int back = 1; back <= envelope.history_filled; ++back) {
    const std::size_t i = static_cast<std::size_t>((envelope.history_at + size - back) % size);
    if (envelope.history[i] < settled / 2) break;
    at = envelope.history_us[i];
  }
  return at - lag_us;
}

}  // namespace

void start_envelope(AudioEnvelope& envelope, int rate, const Station& station) {
  envelope = AudioEnvelope{};
  envelope.rate = rate;
  envelope.keyed_is_high = station.keyed_is_carrier_high;
  ToneSetup low;
  if (choose_tone(station.carrier_hz, rate, false, low)) envelope.step[envelope.tones++] = low.tone_hz / rate;
  ToneSetup carrier;
  if (choose_tone(station.carrier_hz, rate, true, carrier) && carrier.harmonic == 1)
    envelope.step[envelope.tones++] = carrier.tone_hz / rate;
  for (int k = 0; k < envelope.tones; ++k) {
    envelope.turn_cos[k] = std::cos(2 * kPi * envelope.step[k]);
    envelope.turn_sin[k] = std::sin(2 * kPi * envelope.step[k]);
  }
  envelope.window = rate / 1000 > 0 ? rate / 1000 : 1;
  envelope.ring.assign(static_cast<std::size_t>(envelope.window) * 4, 0.0);
  envelope.history.assign(static_cast<std::size_t>(envelope.window) * 4, 0.0);
  envelope.history_us.assign(envelope.history.size(), 0);
}

std::vector<double> envelope_tones(const AudioEnvelope& envelope) {
  std::vector<double> tones;
  for (int k = 0; k < envelope.tones; ++k) tones.push_back(envelope.step[k] * envelope.rate);
  return tones;
}

void feed_envelope(AudioEnvelope& envelope, const std::int16_t* samples, int count,
                   std::int64_t first_us, LineMonitor& monitor, std::vector<LineEvent>& events) {
  const double sample_us = 1e6 / envelope.rate;
  const double lag_us = envelope.window * sample_us / 2;
  const double decay = 1 - 1 / (kPeakMemorySec * envelope.rate);
  const std::int64_t lag = std::llround(lag_us);
  for (int k = 0; k < envelope.tones; ++k) {
    const double norm = std::hypot(envelope.osc_cos[k], envelope.osc_sin[k]);
    envelope.osc_cos[k] /= norm;
    envelope.osc_sin[k] /= norm;
  }
  std::int64_t now = first_us;
  for (int i = 0; i < count; ++i) {
    now = first_us + std::llround(i * sample_us);
    const double level = level_of(envelope, samples[i]);
    remember(envelope, level, now);
    envelope.peak = level > envelope.peak * decay ? level : envelope.peak * decay;
    const double half = envelope.peak / 2;
    if ((level >= half) != (envelope.last_level >= half)) envelope.half_crossing_us = now - lag;
    envelope.last_level = level;
    if (envelope.rise_wait > 0 && --envelope.rise_wait == 0) {
      // A ramp and a window after the rise began, the level has settled.
      on_edge(envelope, true, settled_rise(envelope, level, lag), monitor, events);
      envelope.rise_wait = -1;
    }
    if (envelope.peak < kLeastPeak || envelope.rise_wait > 0) continue;
    if (!envelope.on && level > kOnFraction * envelope.peak) {
      envelope.rise_wait = 2 * envelope.window;
    } else if (envelope.on && level < kOffFraction * envelope.peak) {
      on_edge(envelope, false, envelope.half_crossing_us, monitor, events);
    }
  }
  // A pulse whose keying has rested long enough is complete; one that has
  // gone on longer than any pulse, or that the clock stepped back from, is
  // none.
  const bool keyed = keyed_when(envelope, envelope.on);
  if (!envelope.edges.empty() && (now < envelope.edges.back() - kLongestPulseUs ||
                                  (keyed && now - envelope.edges.front() > kLongestPulseUs))) {
    envelope.edges.clear();
  } else if (!keyed && !envelope.edges.empty() && now - envelope.edges.back() >= kPulseGroupGapUs) {
    hand_over(envelope, monitor, events);
  }
  monitor.idle(envelope.edges.empty() ? now : envelope.edges.front(), events);
}
