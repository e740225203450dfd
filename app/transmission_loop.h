// The endless loop that sends the time code minute after minute and shows
// each minute on the console.
#pragma once

#include "stations/station.h"

// What the loop sends with: the station chosen at start-up, its frame and
// the offset of the clock the line carries.
struct Transmission {
  const Station* station = nullptr;
  int offset_sec = 0;
  int minutes = 0;      // frames to send before ending; 0 for no end
  int frames_sent = 0;  // whole frames gone out (a wait is none)
  StationFrame frame{};
};

// Runs until `minutes` frames have gone out, the last pulse included, and
// returns true; with `minutes` 0 never returns while the time can be read.
// False when the local-time conversion fails; either way the caller ends
// the process.
bool run_transmission_loop(const Station& station, int offset_sec, int minutes);

// The loop's pieces, so that it can be driven pass by pass.
void begin_transmission(Transmission& transmission);
bool transmission_pass(Transmission& transmission);
