// The sound card where a build has none (KOLVAN_AUDIO off: the static
// armhf package that runs on every Raspberry Pi). A static program can't
// load ALSA's plugins, the road to PipeWire and PulseAudio, so --audio is
// refused before anything is opened, with what to use instead.
#include <string>

#include "carrier/audio_output.h"
#include "carrier/carrier_output.h"

namespace {

constexpr const char kWhy[] =
    "this kolvan is linked statically (the armhf package, for every Raspberry Pi "
    "from the Pi 1 and Zero on), and a static program has no sound card";
constexpr const char kInstead[] =
    "key a serial port or --pwm, or for the sound card take the arm64 package on a "
    "64-bit system or build kolvan on the board itself (docs/building.md)";

bool refuse_audio(const char*, std::string& error) {
  error = std::string("kolvan: --audio: ") + kWhy + "; " + kInstead;
  return false;
}

bool open_nothing(const char*, const Station&) { return false; }
void send_nothing(const PulseShape&) {}
void close_nothing() {}

// The option is still known, so that the line says why rather than
// "unknown option".
constexpr CarrierOutput refusing_row() {
  CarrierOutput row = audio_row_words();
  row.help =
      "  --audio[=DEVICE]  the sound card: not in this build, which is static, for\n"
      "                    every Raspberry Pi from ARMv6 on (docs/building.md)\n";
  row.about = ".\n";
  row.waiting = "--audio is refused in this build";
  row.check = refuse_audio;
  row.open = open_nothing;
  row.send = send_nothing;
  row.close = close_nothing;
  return row;
}

}  // namespace

extern const CarrierOutput kAudioOutput = refusing_row();
