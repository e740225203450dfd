// The sound card as a carrier: a full-scale tone keyed with each second's
// shape, laid out ahead of the output's latency so that each second's edge
// leaves the device at the host's second. One file per platform behind it
// (ALSA's library on Linux, WASAPI on Windows); carrier/audio_output.cpp
// makes them a row of the ways out.
#pragma once

#include <cstdint>
#include <string>

#include "carrier/carrier_output.h"
#include "stations/station.h"

// Opens `device` ("" for the system's default output), chooses the rate and
// the tone for `station`, says once on standard error what was chosen and
// starts playing (silence until the first announced second). False, with
// the system's `reason`, when the device can't be opened or set. Once open,
// a device that fails or disappears is reported once and opened again every
// second; playing resumes at the next second. The shapes come from the
// announce-ahead core's schedule (carrier/ahead.h).
bool open_audio_output(const std::string& device, const Station& station, std::string& reason);

// What the sound card's row is called and how it takes its argument, in
// every build: the one with a sound card (audio_output.cpp) and the static
// one without (audio_none.cpp), whose row refuses the same option.
constexpr CarrierOutput audio_row_words() {
  CarrierOutput row{};
  row.name = "audio";
  row.option = "--audio";
  row.argument = OutputArgument::Optional;
  row.usage = "--audio[=DEVICE]";
  return row;
}

// Stops the tone where the platform can from a signal handler.
void close_audio();
