// The monitor's capture device through ALSA's library: a sound server's
// source (a sink's monitor, for a loopback) or the hardware's input. Each
// block is dated by the device's own account of how much it holds.
#include <alsa/asoundlib.h>

#include <cerrno>

#include "carrier/alsa_format.h"
#include "monitor/audio_source.h"
#include "pacing/clock.h"

namespace {

// A short period: a sound server renders a sink ahead of its clock by what
// its clients ask for, and its monitor source delivers (and dates) the sound
// when rendered, so a long period would show every edge that much early.
constexpr unsigned kPeriodUs = 2000;
constexpr unsigned kBufferUs = 500000;

snd_pcm_t* pcm_of(const AudioSource& source) { return static_cast<snd_pcm_t*>(source.pcm); }

int read_capture(AudioSource& source, std::int16_t* out, int max, std::int64_t& first_us,
                 std::string& error) {
  static std::int16_t frames[8 * 48000];
  snd_pcm_t* pcm = pcm_of(source);
  const int channels = source.channels;
  const int room = static_cast<int>(sizeof frames / sizeof frames[0]) / channels;
  const int want = max < room ? max : room;
  snd_pcm_sframes_t got = snd_pcm_readi(pcm, frames, static_cast<snd_pcm_uframes_t>(want));
  if (got == -EINTR) return 0;
  if (got < 0) {
    // An overrun (the monitor was held up) is mended in place.
    if (snd_pcm_recover(pcm, static_cast<int>(got), 1) == 0) return 0;
    error = snd_strerror(static_cast<int>(got));
    return -1;
  }
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(pcm, &delay) < 0) delay = 0;
  // The block's last sample entered the device `delay` samples ago.
  first_us = calendar_ns() / 1000 - (static_cast<std::int64_t>(delay) + got) * 1000000 / source.rate;
  for (snd_pcm_sframes_t i = 0; i < got; ++i) out[i] = frames[i * channels];
  return static_cast<int>(got);
}

void close_capture(AudioSource& source) {
  if (source.pcm != nullptr) snd_pcm_close(pcm_of(source));
  source.pcm = nullptr;
}

}  // namespace

bool open_audio_capture(AudioSource& source, const std::string& device, double carrier_hz,
                        std::string& reason) {
  quiet_alsa_errors();
  source = AudioSource{};
  source.name = device.empty() ? "default" : device;
  snd_pcm_t* pcm = nullptr;
  int err = snd_pcm_open(&pcm, source.name.c_str(), SND_PCM_STREAM_CAPTURE, 0);
  AlsaFormat format;
  if (err >= 0) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    err = set_alsa_format(pcm, hw, carrier_hz, kBufferUs, kPeriodUs, format);
  }
  if (err >= 0) err = snd_pcm_start(pcm);
  if (err < 0) {
    if (pcm != nullptr) snd_pcm_close(pcm);
    reason = snd_strerror(err);
    return false;
  }
  source.pcm = pcm;
  source.rate = static_cast<int>(format.rate);
  source.channels = static_cast<int>(format.channels);
  source.read = read_capture;
  source.close = close_capture;
  return true;
}
