// The sound card on Linux, through ALSA's library: the "default" device
// reaches PipeWire or PulseAudio where they run and the hardware on a board
// without them. A writer thread keeps the device's buffer filled; before
// each block it asks the device how much is queued ahead of it (its delay),
// so the block's first sample has a time on the real-time clock and each
// second's edge is laid out on the sample that leaves at that second.
#include "carrier/audio_output.h"

#include <alsa/asoundlib.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <thread>
#include <vector>

#include "base/units.h"
#include "carrier/ahead.h"
#include "carrier/alsa_format.h"
#include "carrier/tone.h"
#include "pacing/clock.h"

namespace {

// Queued ahead of the device, and written per wake-up. The frame is known
// a second before its minute, so the latency costs nothing but memory; the
// period sets how often the writer (and a sound server's client library)
// wakes: 20 times a second keeps it near 0.4 % of a core.
constexpr unsigned kBufferUs = 250000;
constexpr unsigned kPeriodUs = 50000;

struct Device {
  snd_pcm_t* pcm = nullptr;
  ToneSetup setup;
  unsigned channels = 1;
  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
};

// Everything the sound card keeps while kolvan runs.
struct AudioAlsa {
  std::string device_name;  // as opened: "default" unless given
  const Station* station = nullptr;
  Device device;
  std::string described;  // the tone last reported
  // The writer runs until the process ends: Ctrl-C ends it with the
  // process (_exit), and any other end (a return from main) stops and joins
  // it first, before the state it uses is destroyed.
  std::atomic<bool> stopping{false};
};
AudioAlsa audio;

// The format, and the sizes the device kept of the times asked for.
int set_hardware(Device& dev, AlsaFormat& format) {
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  const int err = set_alsa_format(dev.pcm, hw, audio.station->carrier_hz, kBufferUs, kPeriodUs, format);
  if (err < 0) return err;
  dev.channels = format.channels;
  snd_pcm_hw_params_get_period_size(hw, &dev.period, nullptr);
  snd_pcm_hw_params_get_buffer_size(hw, &dev.buffer);
  return dev.period > 0 && dev.buffer >= dev.period ? 0 : -EINVAL;
}

// Playing starts once the buffer is nearly full, and the writer wakes for
// each period that has left it.
int set_software(const Device& dev) {
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  int err = snd_pcm_sw_params_current(dev.pcm, sw);
  if (err < 0) return err;
  snd_pcm_sw_params_set_start_threshold(dev.pcm, sw, dev.buffer - dev.period);
  snd_pcm_sw_params_set_avail_min(dev.pcm, sw, dev.period);
  return snd_pcm_sw_params(dev.pcm, sw);
}

// Opened without blocking, so that a device another program holds is
// reported at once rather than waited for; then set to block, as the
// writer wants it.
int open_device(Device& dev) {
  int err = snd_pcm_open(&dev.pcm, audio.device_name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (err >= 0 && (err = snd_pcm_nonblock(dev.pcm, 0)) < 0) snd_pcm_close(dev.pcm);
  if (err < 0) {
    dev.pcm = nullptr;
    return err;
  }
  AlsaFormat format;
  if ((err = set_hardware(dev, format)) < 0 || (err = set_software(dev)) < 0) {
    snd_pcm_close(dev.pcm);
    dev.pcm = nullptr;
    return err;
  }
  if (!choose_tone(audio.station->carrier_hz, static_cast<int>(format.rate), format.rate_is_hardware,
                   dev.setup)) {
    snd_pcm_close(dev.pcm);
    dev.pcm = nullptr;
    return -EINVAL;
  }
  return 0;
}

void say_tone(const Device& dev) {
  const std::string text = describe_tone(dev.setup, audio.station->carrier_hz);
  if (text == audio.described) return;
  audio.described = text;
  std::fprintf(stderr, "%s\n", text.c_str());
}

// A fault that recovery can't mend: the device is gone, or the server
// restarted. Said once; the writer opens the device again every second.
void give_up_device(int err) {
  std::fprintf(stderr, "kolvan: audio device %s: %s\n", audio.device_name.c_str(), snd_strerror(err));
  snd_pcm_close(audio.device.pcm);
  audio.device.pcm = nullptr;
}

// An underrun (the writer was held up) or a suspend is mended in place; the
// tone's renderer sees the jump in time and lays the second out again.
bool recover(int err) {
  if (snd_pcm_recover(audio.device.pcm, err, 1) == 0) return true;
  give_up_device(err);
  return false;
}

void reopen_device() {
  for (int i = 0; i < 10 && !audio.stopping.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (audio.stopping.load()) return;
  if (open_device(audio.device) < 0) return;
  std::fprintf(stderr, "kolvan: audio device %s: playing again\n", audio.device_name.c_str());
  say_tone(audio.device);
}

void write_block(ToneState& state, ShapeSchedule& schedule, std::vector<std::int16_t>& mono,
                 std::vector<std::int16_t>& frames) {
  // A failed wait shows again in the avail that follows, which says why.
  (void)snd_pcm_wait(audio.device.pcm, 1000);
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(audio.device.pcm);
  if (avail < 0) {
    recover(static_cast<int>(avail));
    return;
  }
  if (static_cast<snd_pcm_uframes_t>(avail) < audio.device.period) return;
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(audio.device.pcm, &delay) < 0) delay = static_cast<snd_pcm_sframes_t>(audio.device.buffer) - avail;
  const std::int64_t now = calendar_ns();
  const int count = static_cast<int>(static_cast<snd_pcm_uframes_t>(avail) / audio.device.period * audio.device.period);
  const std::int64_t first_ns = now + static_cast<std::int64_t>(delay) * kSecondNs / audio.device.setup.rate;
  mono.resize(static_cast<std::size_t>(count));
  read_schedule(schedule);
  render_tone(state, schedule, first_ns, mono.data(), count);
  frames.resize(mono.size() * audio.device.channels);
  for (std::size_t i = 0; i < mono.size(); ++i)
    for (unsigned c = 0; c < audio.device.channels; ++c) frames[i * audio.device.channels + c] = mono[i];
  const snd_pcm_sframes_t written = snd_pcm_writei(audio.device.pcm, frames.data(), static_cast<snd_pcm_uframes_t>(count));
  if (written < 0) recover(static_cast<int>(written));
}

// Runs until stop_writer(); the interrupt ends it with the process.
void writer() {
  std::vector<std::int16_t> mono, frames;
  ShapeSchedule schedule;
  ToneState state;
  bool open = false;
  while (!audio.stopping.load()) {
    if (audio.device.pcm == nullptr) {
      open = false;
      reopen_device();
      continue;
    }
    if (!open) {
      start_tone(state, audio.device.setup, audio.station->keyed_is_carrier_high);
      open = true;
    }
    write_block(state, schedule, mono, frames);
  }
}

// At exit: the writer stops within a wait (at most a second), is joined,
// and the device is closed, its queued sound dropped.
void stop_writer() {
  audio.stopping.store(true);
  join_ahead_writer();
  if (audio.device.pcm != nullptr) {
    snd_pcm_drop(audio.device.pcm);
    snd_pcm_close(audio.device.pcm);
    audio.device.pcm = nullptr;
  }
}

}  // namespace

// The interrupt handler can't touch the stream (ALSA and the server's
// client library take locks); ending the process closes the device, and the
// server drops the stream's queued sound with its connection.
void close_audio() {}

bool open_audio_output(const std::string& name, const Station& chosen, std::string& reason) {
  quiet_alsa_errors();
  audio.device_name = name.empty() ? "default" : name;
  audio.station = &chosen;
  const int err = open_device(audio.device);
  if (err < 0) {
    reason = snd_strerror(err);
    return false;
  }
  say_tone(audio.device);
  if (!start_ahead_writer(writer)) {
    reason = "no thread for the writer";
    return false;
  }
  std::atexit(stop_writer);
  return true;
}
