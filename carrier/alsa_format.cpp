// The sample format, rate and sizes asked of an ALSA device, for playing
// the tone and for recording it back.
#include "carrier/alsa_format.h"

namespace {

// A sound server's rate: any rate would do, and this one is its usual own.
constexpr unsigned kServerRate = 48000;

extern "C" void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

bool is_sound_server(snd_pcm_t* pcm) {
  const snd_pcm_type_t type = snd_pcm_type(pcm);
  return type == SND_PCM_TYPE_IOPLUG || type == SND_PCM_TYPE_EXTPLUG;
}

// The lowest rate the hardware takes as it is that can carry the carrier
// itself; 0 when there is none.
unsigned carrier_rate(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, double carrier_hz) {
  static const unsigned kRates[] = {96000, 176400, 192000, 352800, 384000};
  for (unsigned rate : kRates) {
    if (rate >= 2.2 * carrier_hz && snd_pcm_hw_params_test_rate(pcm, hw, rate, 0) == 0)
      return rate;
  }
  return 0;
}

}  // namespace

void quiet_alsa_errors() { snd_lib_error_set_handler(ignore_alsa_error); }

int set_alsa_format(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, double carrier_hz,
                    unsigned buffer_us, unsigned period_us, AlsaFormat& format) {
  int err = snd_pcm_hw_params_any(pcm, hw);
  if (err < 0) return err;
  // Without resampling in ALSA's own plugins, the rates offered are the
  // hardware's.
  snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);
  if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) return err;
  if ((err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16)) < 0) return err;
  format.channels = 1;
  if ((err = snd_pcm_hw_params_set_channels_near(pcm, hw, &format.channels)) < 0) return err;
  format.rate_is_hardware = !is_sound_server(pcm);
  format.rate = format.rate_is_hardware ? carrier_rate(pcm, hw, carrier_hz) : 0;
  if (format.rate != 0) {
    err = snd_pcm_hw_params_set_rate(pcm, hw, format.rate, 0);
  } else {
    format.rate = kServerRate;
    err = snd_pcm_hw_params_set_rate_near(pcm, hw, &format.rate, nullptr);
  }
  if (err < 0) return err;
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, nullptr);
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, nullptr);
  return snd_pcm_hw_params(pcm, hw);
}
