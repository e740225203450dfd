// The bytes that put one second's keying on a 9600 8N1 line, shared by every
// platform's port.
#pragma once

#include "stations/station.h"

// Writes the bytes of `shape` into `buffer` (zero bytes for keyed runs, 0xFF
// for the unkeyed run between them) and returns how many; 0 when the shape
// is empty, malformed or longer than `size`.
int fill_pulse_bytes(const PulseShape& shape, unsigned char* buffer, int size);
