// The monitor's sound input: reads a capture device or a WAV file through
// the tone's envelope into the same line monitor a serial line feeds.
#pragma once

#include <signal.h>

#include <string>

#include "monitor/line_monitor.h"
#include "stations/station.h"

// Opens `argument` (--audio, --audio=DEVICE or FILE.wav), says what it reads
// on its first line, and decodes until the file ends, the device fails or
// `stop` is set. The exit status: 0, or 1 with a message on standard error
// when the source can't be opened or fails.
int monitor_audio(const char* argument, const Station& station, LineMonitor& monitor,
                  const volatile sig_atomic_t& stop, void (*print)(const std::string& line));

// True when a monitor argument asks for sound: --audio[=DEVICE] or FILE.wav.
bool names_audio_input(const char* argument);
