// The console glyphs and the runs of characters they stand for on the line
// (at 960 characters a second), written out here once for every test rather
// than taken from the code under test.
#pragma once

// JJY's glyphs: 768 for '_' (0.8 s), 480 for '-' (0.5 s), 192 for '|'
// (0.2 s); for every station, a digit is the length in tenths of a second
// ('1' 96 ... '8' 768), and 'g' is MSF's A=0 B=1: 0.1 s keyed, 0.1 s not,
// 0.1 s keyed, 288 characters. 0 for anything else.
inline int chars_of_glyph(char glyph) {
  switch (glyph) {
    case '_': return 768;
    case '-': return 480;
    case '|': return 192;
    case 'g': return 288;
  }
  return glyph >= '1' && glyph <= '9' ? (glyph - '0') * 96 : 0;
}

// The JJY glyph of a run of `chars` zero bytes; '#' for a length that is none.
inline char glyph_of_chars(int chars) {
  return chars == 768 ? '_' : chars == 480 ? '-' : chars == 192 ? '|' : '#';
}
