// The endless loop that sends the time code minute after minute and shows
// each minute on the console.
#pragma once

#include "timecode/station.h"

// What the loop sends with: the station chosen at start-up, its frame and
// the offset of the clock the line carries.
struct Transmission {
  const Station* station = nullptr;
  int offset_sec = 0;
  StationFrame frame{};
};

// Never returns while the time can be read; returns only when the local-time
// conversion fails, and the caller ends the process.
void run_transmission_loop(const Station& station, int offset_sec);

// The loop's pieces, so that it can be driven pass by pass.
void begin_transmission(Transmission& transmission);
bool transmission_pass(Transmission& transmission);
