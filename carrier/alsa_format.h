// The device set-up that kolvan's sound output and kolvan-monitor's capture
// share on Linux: 16-bit interleaved samples on the fewest channels the
// device takes, at a rate that carries the station's carrier itself when
// the hardware has one.
#pragma once

#include <alsa/asoundlib.h>

struct AlsaFormat {
  unsigned rate = 0;
  unsigned channels = 0;
  // The device's own rate; false behind a sound server's plugin (PulseAudio's,
  // PipeWire's), which takes any rate and resamples it to the server's own
  // without telling which.
  bool rate_is_hardware = false;
};

// ALSA's library prints its own complaints on standard error; kolvan and the
// monitor say what failed in one line of their own instead.
void quiet_alsa_errors();

// Chooses the format on `hw` (the caller's, to read the sizes kept from it
// afterwards) with the buffer and period times asked for, and installs it
// on `pcm`. ALSA's error code, or 0.
int set_alsa_format(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, double carrier_hz,
                    unsigned buffer_us, unsigned period_us, AlsaFormat& format);
