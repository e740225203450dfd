// Local-time conversion on Windows: the host's own zone through the C
// library, or a zone use_zone chose from kolvan's own rules. Windows has no
// IANA names and no tz database, and its C library reads TZ=Europe/Berlin
// as a zone of offset 0, so only those rules can give a named zone.
#include <time.h>

#include "app/simulated_time.h"
#include "app/zone_rules.h"
#include "base/escaped_name.h"

namespace {

const ZoneRule* chosen_zone = nullptr;

}  // namespace

bool use_zone(const char* name, std::string& error) {
  chosen_zone = find_zone_rule(name);
  if (chosen_zone != nullptr) return true;
  error = "kolvan: --zone=" + escaped_name(name) + ": on Windows kolvan knows only the zones " +
          zone_rule_names();
  return false;
}

bool local_time(std::int64_t seconds, SimulatedTime& out) {
  if (chosen_zone != nullptr) {
    zone_rule_local_time(*chosen_zone, seconds, out);
    return true;
  }
  const __time64_t when = seconds;
  return _localtime64_s(&out, &when) == 0;
}
