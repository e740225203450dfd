// The console glyphs and the runs of characters they stand for on the line
// (at 960 characters a second), written out here once for every test rather
// than taken from the code under test; and, through a station's row, a
// frame read from its glyphs and a JJY minute as glyphs.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "stations/station.h"

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

// A frame read from its glyphs; a glyph the station lacks becomes a symbol
// past its last, which its decoder refuses.
inline StationFrame frame_of_glyphs(const Station& station, const std::string& glyphs) {
  StationFrame frame{};
  for (std::size_t p = 0; p < 60 && p < glyphs.size(); ++p)
    while (frame[p] < station.symbol_count && station.symbols[frame[p]].glyph != glyphs[p])
      ++frame[p];
  return frame;
}

// The host's zone as a station encoder reads it; UTC, the same way.
inline bool host_local(std::int64_t seconds, std::tm& out) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}
inline bool utc_broken_down(std::int64_t seconds, std::tm& out) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  return gmtime_r(&t, &out) != nullptr;
}

// A zone's time from the tz database, TZ put back after (a station's zone
// of law, as the C library converts it); at once when TZ names it already.
inline bool tz_database_time(const char* zone, std::int64_t seconds, std::tm& out) {
  const char* sent = std::getenv("TZ");
  if (sent != nullptr && std::string(sent) == zone) return host_local(seconds, out);
  const std::string saved = sent != nullptr ? sent : "";
  setenv("TZ", zone, 1);
  tzset();
  const bool converted = host_local(seconds, out);
  sent != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  return converted;
}

// The JJY frame of the minute that begins at `second`, as glyphs, in the
// zone `local` reads.
inline std::string jjy_glyphs(std::int64_t second, LocalTimeFn local) {
  StationFrame frame{};
  std::string carries;
  if (!default_station().encode(second, local, tz_database_time, frame, carries)) return "";
  return station_frame_glyphs(default_station(), frame);
}
