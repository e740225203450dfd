// The sound card's row of the ways out: the platform's audio output behind
// the verbs, and the line that says why a device can't be opened.
#include "carrier/audio_output.h"

#include <cstdio>

#include "base/escaped_name.h"
#include "carrier/ahead.h"
#include "pacing/clock.h"

namespace {

bool open_audio(const char* argument, const Station& station) {
  const std::string device = argument != nullptr ? argument : "";
  std::string reason;
  if (open_audio_output(device, station, reason)) return true;
  std::fprintf(stderr, "Can not open audio device %s: %s\n",
               device.empty() ? "default" : escaped_name(device).c_str(), reason.c_str());
  return false;
}

// Every shape was announced before its second and is already laid out:
// the loop's own call at the second adds nothing.
void send_audio(const PulseShape&) {}

// --carrier: the next seconds laid out at full level, well ahead of the
// output's latency; for JJY each second keyed from end to end, whose
// edges meet and leave the tone on.
const char* hold_tone(const Station& station) {
  const std::int64_t now = calendar_seconds();
  for (std::int64_t second = now; second <= now + 3; ++second)
    announce_ahead(second, full_carrier_shape(station.keyed_is_carrier_high));
  return "a continuous tone";
}

// The writer reopens a lost device itself, at its own pace.
constexpr CarrierOutput audio_row() {
  CarrierOutput row = audio_row_words();
  row.help =
      "  --audio[=DEVICE]  play the code through the sound card (its default output,\n"
      "                    or DEVICE) instead of keying a serial port\n";
  row.about = " or, with --audio, a tone from the sound card.\n";
  row.waiting = "--audio plays nothing";
  row.open = open_audio;
  row.announce = announce_ahead;
  row.send = send_audio;
  row.close = close_audio;
  row.steady = hold_tone;
  return row;
}

}  // namespace

extern const CarrierOutput kAudioOutput = audio_row();
