// The endless loop that sends the time code minute after minute and shows
// each minute on the console.
#pragma once

#include "timecode/timecode.h"

// Never returns while the time can be read; returns only when the local-time
// conversion fails, and the caller ends the process.
void run_transmission_loop(int offset_sec);

// The loop's pieces, so that it can be driven pass by pass.
void begin_transmission(TimeCodeFrame& frame);
bool transmission_pass(TimeCodeFrame& frame, int offset_sec);
