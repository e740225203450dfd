// Where the monitor's sound comes from: a capture device (through ALSA's
// library) or a WAV file, read as mono 16-bit samples with the real-time
// clock's time of each block's first sample.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct AudioSource {
  int rate = 0;
  int channels = 0;                // in the source; blocks come out mono (the first)
  std::string name;                // the device or file, for messages
  // Reads up to `max` samples into `out` and dates the first; the count
  // read, 0 at the end of a file, -1 when the source failed (`error` set).
  int (*read)(AudioSource& source, std::int16_t* out, int max, std::int64_t& first_us,
              std::string& error) = nullptr;
  void (*close)(AudioSource& source) = nullptr;
  void* pcm = nullptr;             // a capture device's handle
  std::FILE* file = nullptr;       // a WAV file
  std::int64_t next_us = 0;        // a file: the time of the next sample
  std::int64_t samples_read = 0;
  std::int64_t samples_total = 0;  // a file: in its data chunk
};

// The capture device `device` ("" for the default), at 48 kHz or, when the
// device takes it as it is, a rate that holds the carrier of `carrier_hz`.
// False with the system's `reason`.
bool open_audio_capture(AudioSource& source, const std::string& device, double carrier_hz,
                        std::string& reason);

// A PCM WAV file of 16-bit samples. Its time runs from its modification time
// less its length: a recorder writes its last sample just before it closes
// the file. False with `reason`.
bool open_wav_file(AudioSource& source, const char* path, std::string& reason);

// True when a monitor argument names a WAV file rather than a serial device.
bool names_wav_file(const char* argument);
