// The sound card's pure cores on synthetic buffers: the tone chosen for a
// rate, the samples of each second's keying (widths, ramps, polarity, a lost
// buffer), and the monitor's envelope reading them back as line pulses.
// Widths are the stations' published ones in samples at 48 kHz (0.1 s =
// 4800), edges the host's whole seconds.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "carrier/tone.h"
#include "monitor/audio_envelope.h"
#include "monitor/audio_source.h"

namespace {

constexpr int kRate = 48000;
constexpr std::int64_t kSecond = 1796000000;  // a host second, since the epoch
constexpr std::int64_t kNs = 1000000000;

struct ToneCase {
  double carrier_hz;
  int rate;
  bool rate_is_hardware;
  int harmonic;
  const char* text;
};

TEST(Tone, CarrierWhenTheHardwareRateHoldsItElseAnOddSubharmonic) {
  const ToneCase cases[] = {
      {40000, 48000, false, 3, "audio: 48000 Hz, 13333 Hz tone, 3rd harmonic on 40 kHz"},
      {60000, 48000, false, 3, "audio: 48000 Hz, 20000 Hz tone, 3rd harmonic on 60 kHz"},
      {77500, 48000, false, 5, "audio: 48000 Hz, 15500 Hz tone, 5th harmonic on 77.5 kHz"},
      {77500, 44100, true, 5, "audio: 44100 Hz, 15500 Hz tone, 5th harmonic on 77.5 kHz"},
      {40000, 96000, true, 1, "audio: 96000 Hz, 40000 Hz tone, the carrier itself"},
      // Through a server the rate isn't the hardware's: no carrier.
      {40000, 96000, false, 3, "audio: 96000 Hz, 13333 Hz tone, 3rd harmonic on 40 kHz"},
      {60000, 96000, true, 3, "audio: 96000 Hz, 20000 Hz tone, 3rd harmonic on 60 kHz"},
      {77500, 192000, true, 1, "audio: 192000 Hz, 77500 Hz tone, the carrier itself"},
  };
  for (const ToneCase& c : cases) {
    ToneSetup setup;
    ASSERT_TRUE(choose_tone(c.carrier_hz, c.rate, c.rate_is_hardware, setup)) << c.text;
    EXPECT_EQ(setup.harmonic, c.harmonic) << c.text;
    EXPECT_EQ(describe_tone(setup, c.carrier_hz), c.text);
  }
  ToneSetup setup;
  EXPECT_FALSE(choose_tone(77500, 8000, false, setup));
}

// Renders `blocks` of `frames` from `first_ns` on, each block's time the
// previous one's end plus `lost_ns` after the first (a dropped buffer). The
// levels of a second can be read until the next one is laid out.
struct Rendered {
  ToneState state;
  std::vector<std::int16_t> samples;
};

Rendered render(const PulseShape& shape, bool keyed_is_high, std::int64_t first_ns, int frames,
                int blocks = 1, std::int64_t lost_ns = 0) {
  ToneSetup setup;
  choose_tone(40000, kRate, false, setup);
  Rendered r;
  start_tone(r.state, setup, keyed_is_high);
  ShapeSchedule schedule;
  schedule_shape(schedule, kSecond, shape);
  std::vector<std::int16_t> block(static_cast<std::size_t>(frames));
  for (int b = 0; b < blocks; ++b) {
    const std::int64_t at = first_ns + b * (frames * kNs / kRate) + (b > 0 ? lost_ns : 0);
    render_tone(r.state, schedule, at, block.data(), frames);
    r.samples.insert(r.samples.end(), block.begin(), block.end());
  }
  return r;
}

struct WidthCase {
  const char* what;
  PulseShape shape;
  bool keyed_is_high;
  std::vector<int> edges;  // samples after the second's start
};

TEST(Tone, KeysEachSecondAtItsWidthsWithRampsCentredOnTheEdges) {
  const WidthCase cases[] = {
      {"JJY 0 bit, tone on 0.8 s", {768, 0, 0}, true, {0, 38400}},
      {"JJY marker, tone on 0.2 s", {192, 0, 0}, true, {0, 9600}},
      {"WWVB 1 bit, tone off 0.5 s", {480, 0, 0}, false, {0, 24000}},
      {"MSF A=0 B=1: off 0.1, on 0.1, off 0.1", {96, 96, 96}, false, {0, 4800, 9600, 14400}},
  };
  // Half a second before the second: it starts in the middle of a block.
  const std::int64_t first_ns = kSecond * kNs - kNs / 2;
  const int start = kRate / 2;
  for (const WidthCase& c : cases) {
    const Rendered r = render(c.shape, c.keyed_is_high, first_ns, kRate / 10, 14);
    bool keyed = false;
    for (const int edge : c.edges) {
      const double before = c.keyed_is_high == keyed ? 1 : 0;
      keyed = !keyed;
      EXPECT_DOUBLE_EQ(tone_level(r.state, start + edge - 25), before) << c.what << " " << edge;
      EXPECT_NEAR(tone_level(r.state, start + edge), 0.5, 0.03) << c.what << " " << edge;
      EXPECT_DOUBLE_EQ(tone_level(r.state, start + edge + 25), 1 - before) << c.what << " " << edge;
    }
    // Full scale where the tone is on, silence where it is off.
    const int on_at = c.keyed_is_high ? start + 100 : start - 1000;
    const int off_at = c.keyed_is_high ? start - 1000 : start + 100;
    int peak = 0;
    for (int i = on_at; i < on_at + 18; ++i) peak = std::max(peak, std::abs(r.samples[i]));
    EXPECT_GE(peak, 32000) << c.what;
    for (int i = off_at; i < off_at + 18; ++i) EXPECT_EQ(r.samples[i], 0) << c.what;
  }
}

TEST(Tone, SecondsWithoutShapeAndTheSecondInPlayAtTheStartKeyNothing) {
  // Started 0.3 s into the scheduled second: its pulse would be cut short.
  const Rendered late = render({768, 0, 0}, true, kSecond * kNs + 3 * kNs / 10, kRate / 10, 5);
  for (const std::int16_t s : late.samples) ASSERT_EQ(s, 0);
  // The second after the scheduled one has no shape.
  const Rendered r = render({192, 0, 0}, true, kSecond * kNs - kNs / 2, kRate / 10, 25);
  EXPECT_EQ(tone_level(r.state, kRate / 2 + kRate + 100), 0);
}

// --carrier's JJY tone: each of three seconds keyed from end to end. The
// edge that ends one and the edge that starts the next meet, so the tone
// holds full level throughout, with no dip between the seconds.
TEST(Tone, WholeSecondsKeyedOneAfterAnotherHoldTheToneOn) {
  ToneSetup setup;
  choose_tone(40000, kRate, false, setup);
  ToneState state;
  start_tone(state, setup, true);
  ShapeSchedule schedule;
  for (std::int64_t s = kSecond; s < kSecond + 3; ++s) schedule_shape(schedule, s, kWholeSecondKeyed);
  const int frames = kRate / 10;
  std::vector<std::int16_t> block(static_cast<std::size_t>(frames));
  int held = 0;
  for (int b = 0; b < 40; ++b) {
    const std::int64_t block_ns = kSecond * kNs - kNs / 2 + b * (kNs / 10);
    const std::int64_t first = state.sample;
    render_tone(state, schedule, block_ns, block.data(), frames);
    for (int i = 0; i < frames; i += 7) {
      const std::int64_t ns = block_ns + i * (kNs / kRate);
      if (ns < kSecond * kNs + kNs / 100 || ns > (kSecond + 3) * kNs - kNs / 100) continue;
      ASSERT_DOUBLE_EQ(tone_level(state, first + i), 1) << "at " << ns;
      ++held;
    }
  }
  EXPECT_GT(held, 3 * kRate / 7 - kRate / 10);
}

TEST(Tone, ALostBufferKeepsTheEdgesOnTheHostsSecond) {
  // A JJY 0 bit; after the first block 50 ms of samples (a period) never
  // reached the device. The pulse still ends at 0.8 s after the second:
  // 2400 samples earlier in the sample count.
  const std::int64_t first_ns = kSecond * kNs - kNs / 2;
  const Rendered r = render({768, 0, 0}, true, first_ns, kRate / 10, 14, 50000000);
  const int end = kRate / 2 + 38400 - 2400;
  EXPECT_DOUBLE_EQ(tone_level(r.state, end - 25), 1);
  EXPECT_NEAR(tone_level(r.state, end), 0.5, 0.03);
  EXPECT_DOUBLE_EQ(tone_level(r.state, end + 25), 0);
}

// The host clock steps back, or forward, 10 s after the first block: the
// next second of the new time (the scheduled one, 0.4 s after the step,
// sample 24000) is keyed on time, not after 10 s of silence.
TEST(Tone, AClockSteppedEitherWayKeysTheNextSecondOnTime) {
  for (const std::int64_t step_s : {-10, 10}) {
    const std::int64_t first_ns = (kSecond - step_s) * kNs - kNs / 2;
    const Rendered r = render({192, 0, 0}, true, first_ns, kRate / 10, 8, step_s * kNs);
    EXPECT_DOUBLE_EQ(tone_level(r.state, 24000 + 100), 1) << step_s;
    EXPECT_DOUBLE_EQ(tone_level(r.state, 24000 + 9600 + 100), 0) << step_s;
  }
}

// Before anything is announced (--wait-sync waiting) the sound card is
// silent even for a station whose carrier is on between pulses; once a
// second is announced, the seconds without a shape carry the tone.
TEST(Tone, NothingAnnouncedIsSilenceWhateverThePolarity) {
  ToneSetup setup;
  choose_tone(77500, kRate, false, setup);
  ToneState state;
  start_tone(state, setup, false);
  ShapeSchedule schedule;
  std::vector<std::int16_t> block(kRate / 10);
  render_tone(state, schedule, kSecond * kNs, block.data(), kRate / 10);
  for (const std::int16_t s : block) ASSERT_EQ(s, 0);
  schedule_shape(schedule, kSecond + 5, {192, 0, 0});
  render_tone(state, schedule, kSecond * kNs + kNs / 10, block.data(), kRate / 10);
  int peak = 0;
  for (const std::int16_t s : block) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_GE(peak, 32000);
}

// The envelope reading rendered sound as a line monitor: each pulse as the
// bytes a 9600 8N1 line would carry, at the right onset.
struct EnvelopeCase {
  const char* what;
  PulseShape shape;
  bool keyed_is_high;
  int bytes;
  int nonzero;
};

TEST(AudioEnvelope, ReadsEachPulseAsTheLineWouldCarryIt) {
  const EnvelopeCase cases[] = {
      {"JJY 0 bit", {768, 0, 0}, true, 768, 0},
      {"JJY marker", {192, 0, 0}, true, 192, 0},
      {"WWVB-like 0.2 s off", {192, 0, 0}, false, 192, 0},
      {"MSF A=0 B=1", {96, 96, 96}, false, 288, 96},
  };
  for (const EnvelopeCase& c : cases) {
    const std::int64_t first_ns = kSecond * kNs - kNs / 2;
    const Rendered r = render(c.shape, c.keyed_is_high, first_ns, kRate / 10, 25);
    Station station = default_station();
    station.keyed_is_carrier_high = c.keyed_is_high;
    AudioEnvelope envelope;
    start_envelope(envelope, kRate, station);
    LineMonitor monitor;
    std::vector<LineEvent> events;
    feed_envelope(envelope, r.samples.data(), static_cast<int>(r.samples.size()),
                  first_ns / 1000, monitor, events);
    const LineEvent* pulse = nullptr;
    for (const LineEvent& e : events)
      if (e.kind == LineEventKind::Pulse || e.kind == LineEventKind::UnexpectedPulse) pulse = &e;
    ASSERT_NE(pulse, nullptr) << c.what;
    EXPECT_NEAR(pulse->pulse.bytes, c.bytes, 1) << c.what;
    EXPECT_EQ(pulse->pulse.nonzero, c.nonzero) << c.what;
    EXPECT_NEAR(static_cast<double>(pulse->pulse.onset_in_second_us()), 0, 100) << c.what;
  }
}

// A tone that never quite goes off (leakage, a mixer's other source) at a
// fifth of full scale between pulses: the pulse is still read as the line
// would carry it.
TEST(AudioEnvelope, AToneAtAFifthOfFullScaleBetweenPulsesIsOff) {
  const std::int64_t first_ns = kSecond * kNs - kNs / 2;
  Rendered r = render({192, 0, 0}, true, first_ns, kRate / 10, 25);
  ToneSetup setup;
  choose_tone(40000, kRate, false, setup);
  double peak = 0;
  for (const std::int16_t s : r.samples) peak = std::fmax(peak, std::fabs(s));
  ASSERT_GT(peak, 1000);
  for (std::size_t i = 0; i < r.samples.size(); ++i) {
    const double leak =
        peak / 5 * std::sin(2 * 3.14159265358979 * setup.tone_hz * static_cast<double>(i) / kRate);
    r.samples[i] = static_cast<std::int16_t>(std::lround(0.8 * (r.samples[i] + leak)));
  }
  // Heard twice, 2.5 s apart: the first time sets the tone's full level
  // (until a pulse has been heard, the leak alone is the loudest sound).
  AudioEnvelope envelope;
  start_envelope(envelope, kRate, default_station());
  LineMonitor monitor;
  std::vector<LineEvent> events;
  const int count = static_cast<int>(r.samples.size());
  feed_envelope(envelope, r.samples.data(), count, first_ns / 1000, monitor, events);
  events.clear();
  feed_envelope(envelope, r.samples.data(), count, first_ns / 1000 + 2500000, monitor, events);
  int pulses = 0;
  for (const LineEvent& e : events) {
    if (e.kind != LineEventKind::Pulse && e.kind != LineEventKind::UnexpectedPulse) continue;
    ++pulses;
    EXPECT_NEAR(static_cast<double>(e.pulse.bytes), 192, 3);
  }
  EXPECT_EQ(pulses, 1);
}

// Six JJY 0 bits in a row (0.8 s on, 0.2 s off) read in blocks of 0.6 s,
// as a WAV file at a low rate is: a block that holds the end of one pulse
// and the start of the next still hands the first over whole.
TEST(AudioEnvelope, LongBlocksLoseNoPulse) {
  const Rendered r = render({768, 0, 0}, true, kSecond * kNs - kNs / 2, kRate / 10, 25);
  const std::vector<std::int16_t> second(r.samples.begin() + kRate / 2,
                                         r.samples.begin() + kRate / 2 + kRate);
  // Each second 10 ms long, as a sound card's clock may run against the
  // host's: pulses start a little more than a second apart.
  std::vector<std::int16_t> samples;
  for (int i = 0; i < 6; ++i) {
    samples.insert(samples.end(), second.begin(), second.end());
    samples.insert(samples.end(), kRate / 100, 0);
  }
  AudioEnvelope envelope;
  start_envelope(envelope, kRate, default_station());
  LineMonitor monitor;
  std::vector<LineEvent> events;
  const int block = 6 * kRate / 10;
  for (std::size_t at = 0; at + block <= samples.size(); at += block)
    feed_envelope(envelope, samples.data() + at, block,
                  kSecond * 1000000 + static_cast<std::int64_t>(at) * 1000000 / kRate, monitor,
                  events);
  int zeros = 0;
  for (const LineEvent& e : events) {
    EXPECT_NE(e.kind, LineEventKind::MissingPulses);
    zeros += e.kind == LineEventKind::Pulse && std::abs(e.pulse.bytes - 768) <= 2;
  }
  EXPECT_GE(zeros, 5);
}

// The host clock steps an hour forward in the middle of a JJY 0 bit (a
// capture dates its blocks by it): the pulse that seems to last an hour is
// no pulse, and nothing an hour long is read or held.
TEST(AudioEnvelope, AClockStepInAPulseIsNoPulse) {
  const std::int64_t first_ns = kSecond * kNs - kNs / 2;
  const Rendered r = render({768, 0, 0}, true, first_ns, kRate / 10, 25);
  AudioEnvelope envelope;
  start_envelope(envelope, kRate, default_station());
  LineMonitor monitor;
  std::vector<LineEvent> events;
  const int before = 6 * kRate / 10;  // up to 0.1 s into the pulse
  feed_envelope(envelope, r.samples.data(), before, first_ns / 1000, monitor, events);
  const std::int64_t hour_us = 3600000000;
  feed_envelope(envelope, r.samples.data() + before, static_cast<int>(r.samples.size()) - before,
                first_ns / 1000 + hour_us + 600000, monitor, events);
  for (const LineEvent& e : events)
    EXPECT_TRUE(e.kind != LineEventKind::Pulse && e.kind != LineEventKind::UnexpectedPulse)
        << e.pulse.bytes << " bytes";
  EXPECT_LE(envelope.edges.size(), 2u);
}

// A 16-bit file as a recorder writes it, a LIST chunk before the data
// (bytes written out by hand), three samples of `channels` each: the first
// channel comes out, and the file's time ends at its modification time,
// also when the data chunk claims more than the file holds. More than 16
// channels is refused.
TEST(WavFile, ReadsTheFirstChannelOfPcmDataAfterOtherChunks) {
  struct Case {
    unsigned char channels;
    std::uint32_t data_size;
    const char* refused;  // or null
  } const kCases[] = {{2, 12, nullptr}, {2, 0x100000, nullptr}, {17, 12, "more than 16 channels"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels, data size " + std::to_string(c.data_size));
    const std::uint32_t frame = 2u * c.channels, rate = 48000 * frame;
    const auto le = [](std::uint32_t v, int i) { return static_cast<unsigned char>(v >> 8 * i); };
    const unsigned char header[] = {
        'R', 'I', 'F', 'F', 56, 0, 0, 0, 'W', 'A', 'V', 'E',
        'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, c.channels, 0,    // PCM
        0x80, 0xBB, 0, 0, le(rate, 0), le(rate, 1), le(rate, 2), 0,  // 48000 Hz
        le(frame, 0), 0, 16, 0,                                  // 16 bits
        'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0,        // odd size, padded
        'd', 'a', 't', 'a', le(c.data_size, 0), le(c.data_size, 1), le(c.data_size, 2), 0};
    // The first channel's samples 1, -32768, -2; the others' 0x5555.
    std::vector<std::int16_t> data(3u * c.channels, 0x5555);
    const std::int16_t first_channel[] = {1, -32768, -2};
    for (std::size_t i = 0; i < 3; ++i) data[i * c.channels] = first_channel[i];
    char path[] = "/tmp/kolvan-wav-XXXXXX.wav";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, header, sizeof header), static_cast<ssize_t>(sizeof header));
    const std::size_t data_bytes = data.size() * 2;  // little-endian hosts only, as the tests run
    ASSERT_EQ(write(fd, data.data(), data_bytes), static_cast<ssize_t>(data_bytes));
    close(fd);
    struct stat info {};
    ASSERT_EQ(stat(path, &info), 0);

    AudioSource source;
    std::string reason;
    const bool opened = open_wav_file(source, path, reason);
    unlink(path);
    if (c.refused != nullptr) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(reason, c.refused);
      continue;
    }
    ASSERT_TRUE(opened) << reason;
    EXPECT_EQ(source.rate, 48000);
    EXPECT_EQ(source.channels, 2);
    std::int16_t samples[8] = {};
    std::int64_t first_us = 0;
    EXPECT_EQ(source.read(source, samples, 8, first_us, reason), 3);
    EXPECT_EQ(samples[0], 1);
    EXPECT_EQ(samples[1], -32768);
    EXPECT_EQ(samples[2], -2);
    const std::int64_t modified_us =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000 + info.st_mtim.tv_nsec / 1000;
    EXPECT_EQ(first_us, modified_us - 62);  // 3 samples at 48 kHz: 62.5 µs
    EXPECT_EQ(source.read(source, samples, 8, first_us, reason), 0);
    source.close(source);
  }
}

}  // namespace
