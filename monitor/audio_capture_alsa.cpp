// The monitor's capture device through ALSA's library: a sound server's
// source (a sink's monitor, for a loopback) or the hardware's input. Each
// block is dated by the device's own account of how much it holds.
#include <alsa/asoundlib.h>

#include <cerrno>

#include "monitor/audio_source.h"
#include "pacing/clock.h"

namespace {

constexpr unsigned kRate = 48000;
// A short period: a sound server renders a sink ahead of its clock by what
// its clients ask for, and its monitor source delivers (and dates) the sound
// when rendered, so a long period would show every edge that much early.
constexpr unsigned kPeriodUs = 2000;
constexpr unsigned kBufferUs = 500000;

extern "C" void quiet_alsa(const char*, int, const char*, int, const char*, ...) {}

snd_pcm_t* pcm_of(const AudioSource& source) { return static_cast<snd_pcm_t*>(source.pcm); }

// The rate: a hardware rate that holds the carrier when the device has one
// (a server's source resamples whatever it is asked for), else 48 kHz.
int set_capture(snd_pcm_t* pcm, double carrier_hz, unsigned& rate, unsigned& channels) {
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(pcm, hw);
  if (err < 0) return err;
  snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);
  if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) return err;
  if ((err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16)) < 0) return err;
  channels = 1;
  if ((err = snd_pcm_hw_params_set_channels_near(pcm, hw, &channels)) < 0) return err;
  const snd_pcm_type_t type = snd_pcm_type(pcm);
  rate = 0;
  if (type != SND_PCM_TYPE_IOPLUG && type != SND_PCM_TYPE_EXTPLUG) {
    for (unsigned r : {96000u, 176400u, 192000u, 384000u})
      if (r >= 2.2 * carrier_hz && snd_pcm_hw_params_test_rate(pcm, hw, r, 0) == 0) {
        rate = r;
        break;
      }
  }
  if (rate == 0) rate = kRate;
  if ((err = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr)) < 0) return err;
  unsigned buffer_us = kBufferUs, period_us = kPeriodUs;
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, nullptr);
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, nullptr);
  return snd_pcm_hw_params(pcm, hw);
}

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
  snd_lib_error_set_handler(quiet_alsa);
  source = AudioSource{};
  source.name = device.empty() ? "default" : device;
  snd_pcm_t* pcm = nullptr;
  int err = snd_pcm_open(&pcm, source.name.c_str(), SND_PCM_STREAM_CAPTURE, 0);
  unsigned rate = 0, channels = 0;
  if (err >= 0 && (err = set_capture(pcm, carrier_hz, rate, channels)) >= 0) err = snd_pcm_start(pcm);
  if (err < 0) {
    if (pcm != nullptr) snd_pcm_close(pcm);
    reason = snd_strerror(err);
    return false;
  }
  source.pcm = pcm;
  source.rate = static_cast<int>(rate);
  source.channels = static_cast<int>(channels);
  source.read = read_capture;
  source.close = close_capture;
  return true;
}
