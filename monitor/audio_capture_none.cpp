// The sound card's capture where a build has none (KOLVAN_AUDIO off: the
// static armhf package). A static program can't load ALSA's plugins, so a
// capture device is refused with what to read instead; a WAV file still reads.
#include <string>

#include "monitor/audio_source.h"

bool open_audio_capture(AudioSource&, const std::string&, double, std::string& reason) {
  reason =
      "this kolvan-monitor is linked statically (the armhf package, for every Raspberry Pi "
      "from the Pi 1 and Zero on), and a static program has no sound card; read a WAV file "
      "instead, or build kolvan on the board itself (docs/building.md)";
  return false;
}
