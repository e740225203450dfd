// The table of stations kolvan knows, looked up by the name --station takes.
#include <cstring>

#include "stations/station.h"

extern const Station kJjy40;
extern const Station kJjy60;
extern const Station kWwvb;
extern const Station kDcf77;
extern const Station kMsf;
extern const Station kBpc;

const Station* const kStations[] = {&kJjy40, &kJjy60, &kWwvb, &kDcf77, &kMsf, &kBpc, nullptr};

const Station& default_station() { return kJjy40; }

const Station* find_station(const char* name) {
  if (name == nullptr) return nullptr;
  if (std::strcmp(name, "jjy") == 0) return &kJjy40;
  for (const Station* const* s = kStations; *s != nullptr; ++s)
    if (std::strcmp((*s)->name, name) == 0) return *s;
  return nullptr;
}

std::string station_names() {
  std::string names;
  for (const Station* const* s = kStations; *s != nullptr; ++s) {
    if (!names.empty()) names += ", ";
    names += (*s)->name;
  }
  return names;
}

std::string unknown_station_text(const char* name) {
  return std::string("unknown station '") + name + "' (one of " + station_names() + ")";
}

std::string station_frame_glyphs(const Station& station, const StationFrame& frame) {
  std::string glyphs;
  glyphs.reserve(frame.size());
  for (StationSymbol s : frame)
    glyphs += s < station.symbol_count ? station.symbols[s].glyph : '?';
  return glyphs;
}
