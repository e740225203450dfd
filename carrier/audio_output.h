// The sound card as a carrier: a full-scale tone keyed with each second's
// shape, laid out ahead of the output's latency so that each second's edge
// leaves the device at the host's second. One file per platform behind it
// (ALSA's library on Linux, WASAPI on Windows).
#pragma once

#include <string>

#include "carrier/carrier_output.h"
#include "timecode/station.h"

// Opens `device` ("" for the system's default output), chooses the rate and
// the tone for `station`, says once on standard error what was chosen and
// starts playing (silence until the first announced second). False, with
// the system's `reason`, when the device can't be opened or set. Once open,
// a device that fails or disappears is reported once and opened again every
// second; playing resumes at the next second.
bool open_audio_output(const std::string& device, const Station& station, std::string& reason);

// The verbs of the open sound output.
const CarrierOutput& audio_carrier_output();
