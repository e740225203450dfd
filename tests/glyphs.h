// The JJY console glyphs and the zero-byte runs they stand for on the line
// (0.8, 0.5 and 0.2 s at 960 characters a second), written out here once
// for every test rather than taken from the code under test.
#pragma once

// 768 for '_', 480 for '-', 192 for '|', 0 for anything else.
inline int chars_of_glyph(char glyph) {
  return glyph == '_' ? 768 : glyph == '-' ? 480 : glyph == '|' ? 192 : 0;
}

// The glyph of a run of `chars` zero bytes; '#' for a length that is none.
inline char glyph_of_chars(int chars) {
  return chars == 768 ? '_' : chars == 480 ? '-' : chars == 192 ? '|' : '#';
}
