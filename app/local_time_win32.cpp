// Local-time conversion on Windows: the host's own zone through the C
// library, or a named zone from Windows' own zone data (which Windows Update
// keeps current), the Windows zone of each IANA name kolvan knows; kolvan's
// own rules only where the system lacks that zone. Windows has no IANA
// names, and its C library reads TZ=Europe/Berlin as a zone of offset 0.
#include <windows.h>

#include <time.h>

#include "app/simulated_time.h"
#include "app/zone_rules.h"
#include "base/escaped_name.h"

namespace {

// A zone as kolvan converts in it: Windows' data when the system has the
// zone (the rules of one year at a time, the last year asked kept), else
// the built-in rules.
struct NamedZone {
  const ZoneRule* rule = nullptr;
  bool from_system = false;
  DYNAMIC_TIME_ZONE_INFORMATION system{};
  int year = -1;
  WindowsZoneYear rules{};
};

NamedZone sent_zone;   // the zone local_time converts in; no rule: the host's
NamedZone other_zone;  // the last zone zone_time was asked for

bool same_name(const WCHAR* wide, const char* name) {
  for (; *name != '\0'; ++wide, ++name)
    if (*wide != static_cast<unsigned char>(*name)) return false;
  return *wide == 0;
}

// The system's zone whose key is `key` ("W. Europe Standard Time").
bool find_system_zone(const char* key, DYNAMIC_TIME_ZONE_INFORMATION& out) {
  for (DWORD i = 0;; ++i) {
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    if (EnumDynamicTimeZoneInformation(i, &zone) != ERROR_SUCCESS) return false;
    if (same_name(zone.TimeZoneKeyName, key)) {
      out = zone;
      out.DynamicDaylightTimeDisabled = FALSE;  // the law, whatever the host's setting
      return true;
    }
  }
}

bool named_zone(const char* name, NamedZone& out) {
  const ZoneRule* rule = find_zone_rule(name);
  if (rule == nullptr) return false;
  out = NamedZone{};
  out.rule = rule;
  out.from_system = find_system_zone(rule->windows_zone, out.system);
  return true;
}

WindowsChange change_of(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool convert(NamedZone& zone, std::int64_t seconds, std::tm& out) {
  if (!zone.from_system) {
    zone_rule_local_time(*zone.rule, seconds, out);
    return true;
  }
  const int year = windows_zone_year_of(seconds, zone.system.Bias, zone.system.StandardBias);
  if (year < 1601 || year > 30827) return false;
  if (year != zone.year) {
    TIME_ZONE_INFORMATION t{};
    if (!GetTimeZoneInformationForYear(static_cast<USHORT>(year), &zone.system, &t)) return false;
    zone.rules = {t.Bias, t.StandardBias, t.DaylightBias, change_of(t.StandardDate),
                  change_of(t.DaylightDate)};
    zone.year = year;
  }
  windows_zone_local_time(zone.rules, seconds, out);
  return true;
}

}  // namespace

bool use_zone(const char* name, std::string& error) {
  if (named_zone(name, sent_zone)) return true;
  error = "kolvan: --zone=" + escaped_name(name) + ": on Windows kolvan knows only the zones " +
          zone_rule_names();
  return false;
}

std::string zone_source() {
  if (sent_zone.rule == nullptr) return "the host's zone";
  if (!sent_zone.from_system) return "kolvan's own rules";
  return std::string("Windows' zone \"") + sent_zone.rule->windows_zone + "\"";
}

bool local_time(std::int64_t seconds, SimulatedTime& out) {
  if (sent_zone.rule != nullptr) return convert(sent_zone, seconds, out);
  const __time64_t when = seconds;
  return _localtime64_s(&out, &when) == 0;
}

bool zone_time(const char* zone, std::int64_t seconds, std::tm& out) {
  if (other_zone.rule == nullptr || std::string(other_zone.rule->name) != zone) {
    if (!named_zone(zone, other_zone)) return false;
  }
  return convert(other_zone, seconds, out);
}
