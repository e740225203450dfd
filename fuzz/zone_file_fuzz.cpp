// A file of the tz database as --zone names it: any bytes through the
// reading that tells a plain zone from a zone counting leap seconds and
// from no zone at all. Its counts come from the file, so offsets built from
// them must never read past its end.
#include <cstddef>
#include <cstdint>

#include "app/zone_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tzif_zone_kind(data, size);
  return 0;
}
