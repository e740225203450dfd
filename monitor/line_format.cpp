// The monitor's lines: one per event, times of day in the host's local
// time, a decoded minute as its station carries it.
#include <cstdio>
#include <ctime>
#include <string>

#include "base/units.h"
#include "monitor/line_monitor.h"

namespace {


// Host local time of day of a moment, "09:31:12" and, with milliseconds,
// "09:31:12.004".
std::string time_of_day(std::int64_t us, bool with_ms) {
  const std::int64_t seconds = floor_div(us, kSecondUs);
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm fields{};
  localtime_r(&when, &fields);
  char text[32];
  if (with_ms) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", fields.tm_hour, fields.tm_min,
                  fields.tm_sec, static_cast<int>((us - seconds * kSecondUs) / 1000));
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", fields.tm_hour, fields.tm_min,
                  fields.tm_sec);
  }
  return text;
}

std::string pulse_line(const char* what, const LinePulse& pulse) {
  char text[128];
  std::snprintf(text, sizeof text, "%s pulse of %lld bytes", what,
                static_cast<long long>(pulse.bytes));
  std::string line = text;
  if (pulse.nonzero > 0) {
    std::snprintf(text, sizeof text, " (%lld not zero)", static_cast<long long>(pulse.nonzero));
    line += text;
  }
  return line + " at " + time_of_day(pulse.onset_us, true);
}

std::string minute_line(const LineMinute& m) {
  static const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  if (!m.decoded) return "undecodable minute: " + m.reason;
  const StationTime& t = m.time;
  const std::string zone = t.zone.empty() ? "" : " " + t.zone;
  char text[160];
  std::snprintf(text, sizeof text, "decoded %04d-%02d-%02d %02d:%02d %s%s, day %d, %s, onset %ld ms",
                t.year, t.month, t.day, t.hour, t.minute, kWeekdays[t.day_of_week % 7],
                zone.c_str(), t.day_of_year, t.checks, minute_onset_ms(m));
  return t.notes.empty() ? text : text + (", " + t.notes);
}

}  // namespace

// The onset of the minute's first pulse in its second: position 0's, or
// position 1's where the minute opens with a marker that sends nothing.
long minute_onset_ms(const LineMinute& minute) {
  for (int p = 0; p < 2; ++p) {
    if (minute.onset_us[p] == kNoOnset) continue;
    const std::int64_t second_us = (minute.first_second + p) * kSecondUs;
    return static_cast<long>(floor_div(minute.onset_us[p] - second_us + 500, 1000));
  }
  return 0;
}

std::string format_line_event(const LineEvent& event) {
  char text[160];
  switch (event.kind) {
    case LineEventKind::Pulse:
      return {};
    case LineEventKind::UnexpectedPulse:
      return pulse_line("unexpected", event.pulse);
    case LineEventKind::ExtraPulse:
      return pulse_line("extra", event.pulse);
    case LineEventKind::MissingPulses: {
      const std::int64_t count = event.last_missing - event.first_missing + 1;
      const std::string first = time_of_day(event.first_missing * kSecondUs, false);
      if (count == 1) return "missing pulse at " + first;
      return "missing pulses from " + first + " to " +
             time_of_day(event.last_missing * kSecondUs, false) + " (" + std::to_string(count) +
             " seconds)";
    }
    case LineEventKind::SilentMinute:
      std::snprintf(text, sizeof text, "no frame in minute %02d:%02d (minutes 15 and 45 carry none)",
                    event.silent_hour, event.silent_minute);
      return text;
    case LineEventKind::Minute:
      return minute_line(event.minute);
    case LineEventKind::WrongStation:
      std::snprintf(text, sizeof text, "the line looks like %s, not %s: try --station=%s",
                    event.found->call_sign, event.asked->call_sign, event.found->name);
      return text;
  }
  return {};
}
